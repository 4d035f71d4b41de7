#include <cstdio>

#include "state_tool.h"

std::FILE* open_for_reading(const char* path) {
    return std::fopen(path, "rb");
}

int main(int argc, char** argv) {
    return state_tool_main(argc, argv);
}
