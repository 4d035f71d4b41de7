// emberpress-state dump FILE: prints the members of a saved state, its info entries
// decoded, and the six parameter values. A file that is not a state archive is refused
// with one message and exit status 1.

#include "state_tool.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "state/plugin_state.h"
#include "state/state_archive.h"

namespace {

constexpr char kUsage[] = "usage: emberpress-state dump FILE\n"
                          "       emberpress-state --help\n";

constexpr char kHelp[] =
    "Prints what a saved Emberpress state holds: the members of its outer archive and\n"
    "of the inner archive \"dsp.tar\", the writer's info entries (id, version, format,\n"
    "platform, sample rate) and the six parameter values.\n"
    "\n"
    "Exit status: 0 for a state the plug-in would restore; 1 for a file that cannot be\n"
    "read, is not a state archive, or that the plug-in would refuse; 2 for a usage error.\n";

// Closes an archive's maps when the dump is done, however it ends.
struct ArchiveMaps {
    kv_map* outer = nullptr;
    kv_map* inner = nullptr;
    state_archive state{};
    ~ArchiveMaps() {
        kv_map_free(inner);
        kv_map_free(outer);
        state_archive_free(&state);
    }
};

std::string printable(const void* bytes, size_t len) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::string out;
    for (size_t i = 0; i < len; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7f && p[i] != '\\') {
            out += char(p[i]);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", p[i]);
            out += esc;
        }
    }
    return out;
}

uint32_t u32le(const void* bytes) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A 4-byte entry, or null when it is missing or has another length.
const void* find4(const kv_map* map, const char* key) {
    size_t len = 0;
    const void* value = kv_map_find(map, key, std::strlen(key), &len);
    return value && len == 4 ? value : nullptr;
}

std::string text_entry(const kv_map* map, const char* key) {
    size_t len = 0;
    const void* value = kv_map_find(map, key, std::strlen(key), &len);
    return value ? printable(value, len) : "(missing)";
}

int print_member(const void* name, size_t name_len, const void*, size_t size, void*) {
    std::printf("  %-24s %10zu bytes\n", printable(name, name_len).c_str(), size);
    return 0;
}

void print_info(const kv_map* info) {
    static const char* const version_keys[] = {"version_major", "version_minor", "version_revision",
                                               "version_build"};
    std::string version;
    for (const char* key : version_keys) {
        if (!version.empty()) version += '.';
        const void* v = find4(info, key);
        version += v ? std::to_string(u32le(v)) : "?";
    }
    const void* rate = find4(info, "sample_rate");
    std::printf("info:\n");
    std::printf("  %-12s %s\n", "id", text_entry(info, "id").c_str());
    std::printf("  %-12s %s\n", "version", version.c_str());
    std::printf("  %-12s %s\n", "format", text_entry(info, "format").c_str());
    std::printf("  %-12s %s\n", "platform", text_entry(info, "platform").c_str());
    if (rate)
        std::printf("  %-12s %g Hz\n", "sample rate", std::bit_cast<float>(u32le(rate)));
    else
        std::printf("  %-12s (missing)\n", "sample rate");
}

void print_parameters(const kv_map* parameters) {
    std::printf("parameters:\n");
    for (const ParamInfo& p : kParams) {
        size_t len = 0;
        const void* value = kv_map_find(parameters, p.key, std::strlen(p.key), &len);
        if (!value) {
            std::printf("  %-12s (missing)\n", p.title);
        } else if (len != 4) {
            std::printf("  %-12s (%zu bytes, not a 4-byte value)\n", p.title, len);
        } else {
            const float v = std::bit_cast<float>(u32le(value));
            const char* note = !p.toggled ? ""
                               : v == 1   ? " (bypassed)"
                               : v == 0   ? " (processing)"
                                          : "";
            std::printf("  %-12s %g%s%s%s\n", p.title, v, *p.units ? " " : "", p.units, note);
        }
    }
}

// Reads a whole file; false with errno set when it cannot.
bool read_whole_file(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* f = open_for_reading(path);
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int refuse(const char* path, const char* why) {
    std::fflush(stdout);
    std::fprintf(stderr, "emberpress-state: %s: %s\n", path, why);
    return 1;
}

int dump(const char* path) {
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, &bytes)) {
        const std::string why = std::string("cannot read the file (") + std::strerror(errno) + ")";
        return refuse(path, why.c_str());
    }
    ArchiveMaps maps;
    if (state_archive_load(&maps.state, bytes.data(), bytes.size()) != 0) {
        return refuse(path, errno == ENOMEM ? "out of memory"
                                            : "not an Emberpress state (malformed archive)");
    }
    // The archive loaded, so both levels parse again; listed with every member.
    maps.outer = tar_parse(bytes.data(), bytes.size());
    size_t dsp_len = 0;
    const void* dsp = maps.outer ? kv_map_find(maps.outer, "dsp.tar", 7, &dsp_len) : nullptr;
    maps.inner = dsp ? tar_parse(dsp, dsp_len) : nullptr;
    if (!maps.inner) return refuse(path, "out of memory");

    std::printf("state file %s (%zu bytes)\n", path, bytes.size());
    std::printf("outer archive:\n");
    kv_map_foreach(maps.outer, print_member, nullptr);
    std::printf("inner archive (dsp.tar):\n");
    kv_map_foreach(maps.inner, print_member, nullptr);
    print_info(maps.state.info);
    print_parameters(maps.state.parameters);

    float values[kParamCount];
    if (plugin_state_load(bytes.data(), bytes.size(), values) != 0)
        return refuse(path, "the plug-in would refuse this state (wrong id, or a parameter "
                            "missing, not 4 bytes long or not a number)");
    return 0;
}

} // namespace

int state_tool_main(int argc, char** argv) {
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::printf("%s\n%s", kUsage, kHelp);
        return 0;
    }
    if (argc == 3 && !std::strcmp(argv[1], "dump")) return dump(argv[2]);
    std::fputs(kUsage, stderr);
    return 2;
}
