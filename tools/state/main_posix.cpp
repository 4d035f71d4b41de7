#include <cstdio>

#include "state_tool.h"

bool read_whole_file(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int main(int argc, char** argv) {
    return state_tool_main(argc, argv);
}
