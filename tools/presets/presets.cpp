// emberpress-presets: writes the factory presets (engine/presets.h) in the forms the
// hosts and the editor read. The build runs it; nothing it writes is kept in the
// source tree.
//
//   emberpress-presets lv2 MANIFEST BUNDLE   BUNDLE/manifest.ttl (MANIFEST followed by
//                                            one entry per preset) and BUNDLE/presets.ttl
//   emberpress-presets vst3 FOLDER           FOLDER/<name>.vstpreset, one per preset
//   emberpress-presets page FOLDER           FOLDER/presets.js for the editor page
//   emberpress-presets list                  one line per preset: symbol, the six
//                                            values, then the name
//
// Both kinds of preset hold the plug-in's saved state with the preset's values, made by
// the state code of the plug-ins as built for this platform. A file that cannot be written whole is
// removed again, and the program says which and why and exits with status 1.

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/params.h"
#include "engine/presets.h"
#include "lv2/emberpress_lv2.h"
#include "state/plugin_state.h"
#include "vst3/emberpress_vst3.h"

namespace {

constexpr char kUsage[] = "usage: emberpress-presets lv2 MANIFEST BUNDLE\n"
                          "       emberpress-presets vst3 FOLDER\n"
                          "       emberpress-presets page FOLDER\n"
                          "       emberpress-presets list\n";

constexpr char kPresetUriBase[] = EMBERPRESS_URI "/presets#";

// --- Text ------------------------------------------------------------------------------

[[gnu::format(printf, 2, 3)]] void append(std::string& out, const char* fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    if (n > 0) out.append(buf, size_t(n) < sizeof buf ? size_t(n) : sizeof buf - 1);
}

// A plain value as a decimal that reads back as the same float, always with a point
// (so that RDF reads it as a decimal, not an integer).
std::string number(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(v));
    std::string s = buf;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// The value a control port carries: the enable port is the inverse of bypass.
float port_value(const Preset& p, int index) {
    if (index == PARAM_BYPASS) return p.values[index] >= 0.5f ? 0.0f : 1.0f;
    return p.values[index];
}

// --- Files -----------------------------------------------------------------------------

std::string join(const char* folder, const std::string& name) {
    return std::string(folder) + "/" + name;
}

// Writes the whole file or nothing: a failed write removes what was written.
bool write_file(const std::string& path, const void* data, size_t len) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "emberpress-presets: cannot write '%s': %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    const bool written = std::fwrite(data, 1, len, f) == len;
    const int reason = errno;
    if (std::fclose(f) != 0 || !written) {
        std::fprintf(stderr, "emberpress-presets: cannot write '%s': %s\n", path.c_str(),
                     std::strerror(written ? errno : reason));
        std::remove(path.c_str());
        return false;
    }
    return true;
}

bool write_text(const std::string& path, const std::string& text) {
    return write_file(path, text.data(), text.size());
}

bool read_text(const char* path, std::string& out) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "emberpress-presets: cannot read '%s': %s\n", path,
                     std::strerror(errno));
        return false;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok) std::fprintf(stderr, "emberpress-presets: cannot read '%s'\n", path);
    return ok;
}

// The saved state with a preset's values, as the given format layer writes it on this
// platform; a plug-in that was never activated saves a sample rate of 0. Null, with
// the reason said, when it cannot be made.
uint8_t* preset_state(const Preset& p, const char* format, size_t* len) {
    uint8_t* state = plugin_state_save(p.values, format, kPluginPlatform, 0.0f, len);
    if (!state)
        std::fprintf(stderr, "emberpress-presets: cannot make the state of '%s': %s\n", p.name,
                     std::strerror(errno));
    return state;
}

// --- LV2 -------------------------------------------------------------------------------

std::string base64(const uint8_t* data, size_t len) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < len; i += 3) {
        const uint32_t n = uint32_t(data[i]) << 16 |
                           (i + 1 < len ? uint32_t(data[i + 1]) << 8 : 0) |
                           (i + 2 < len ? uint32_t(data[i + 2]) : 0);
        out += kDigits[n >> 18 & 63];
        out += kDigits[n >> 12 & 63];
        out += i + 1 < len ? kDigits[n >> 6 & 63] : '=';
        out += i + 2 < len ? kDigits[n & 63] : '=';
    }
    return out;
}

// Each preset carries its values twice, as hosts' own saved presets do: as control
// port values, and as the plug-in's state property, so that the plug-in's restore finds
// the property it looks for. The bundle's manifest lists each preset, so that hosts
// find them without loading the plug-in's data; the data itself is in presets.ttl.
bool write_lv2(const char* manifest_in, const char* bundle) {
    std::string manifest;
    if (!read_text(manifest_in, manifest)) return false;
    while (!manifest.empty() && manifest.back() == '\n') manifest.pop_back();
    append(manifest, "\n\n@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n");
    for (const Preset& p : kPresets)
        append(manifest,
               "\n<%s%s>\n    a pset:Preset ;\n    lv2:appliesTo <%s> ;\n"
               "    rdfs:seeAlso <presets.ttl> .\n",
               kPresetUriBase, p.symbol, EMBERPRESS_URI);

    std::string data = "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
                       "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
                       "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
                       "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
                       "@prefix xsd:   <http://www.w3.org/2001/XMLSchema#> .\n"
                       "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
                       "\n<" EMBERPRESS_STATE_KEY ">\n    a rdf:Property ;\n"
                       "    rdfs:label \"Emberpress state\" ;\n"
                       "    rdfs:comment \"The plug-in's saved state, as its state interface "
                       "stores it.\" .\n";
    for (const Preset& p : kPresets) {
        append(data, "\n<%s%s>\n    a pset:Preset ;\n    lv2:appliesTo <%s> ;\n", kPresetUriBase,
               p.symbol, EMBERPRESS_URI);
        append(data, "    rdfs:label \"%s\" ;\n    lv2:port", p.name);
        for (int i = 0; i < kParamCount; ++i)
            append(data, "%s [\n        lv2:symbol \"%s\" ;\n        pset:value %s\n    ]",
                   i ? " ," : "", kControlPortSymbols[i], number(port_value(p, i)).c_str());
        size_t len = 0;
        uint8_t* state = preset_state(p, "lv2", &len);
        if (!state) return false;
        data += " ;\n    state:state [\n        <" EMBERPRESS_STATE_KEY "> \"";
        data += base64(state, len);
        data += "\"^^xsd:base64Binary\n    ] .\n";
        std::free(state);
    }
    return write_text(join(bundle, "manifest.ttl"), manifest) &&
           write_text(join(bundle, "presets.ttl"), data);
}

// --- VST3 ------------------------------------------------------------------------------

// The preset file: a 48-byte header ("VST3", version 1, the processor's class ID as
// 32 hexadecimal characters, the offset of the chunk list), the chunks' data, and the
// chunk list ("List", the entry count, then per entry its ID, offset and size). All
// numbers little-endian.
constexpr int32_t kPresetFileVersion = 1;
constexpr size_t kHeaderSize = 4 + 4 + 32 + 8;

void put_le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void put_id(std::vector<uint8_t>& out, const char (&id)[5]) {
    out.insert(out.end(), id, id + 4);
}

std::vector<uint8_t> vstpreset(const uint8_t* state, size_t state_len) {
    std::vector<uint8_t> out;
    put_id(out, "VST3");
    put_le(out, uint32_t(kPresetFileVersion), 4);
    char class_id[33];
    std::snprintf(class_id, sizeof class_id, "%08X%08X%08X%08X", kProcessorClassWords[0],
                  kProcessorClassWords[1], kProcessorClassWords[2], kProcessorClassWords[3]);
    out.insert(out.end(), class_id, class_id + 32);
    put_le(out, kHeaderSize + state_len, 8);
    out.insert(out.end(), state, state + state_len);
    put_id(out, "List");
    put_le(out, 1, 4);
    put_id(out, "Comp");
    put_le(out, kHeaderSize, 8);
    put_le(out, state_len, 8);
    return out;
}

bool write_vst3(const char* folder) {
    for (const Preset& p : kPresets) {
        size_t len = 0;
        uint8_t* state = preset_state(p, "vst3", &len);
        if (!state) return false;
        const std::vector<uint8_t> file = vstpreset(state, len);
        std::free(state);
        if (!write_file(join(folder, std::string(p.name) + ".vstpreset"), file.data(), file.size()))
            return false;
    }
    return true;
}

// --- Editor page -----------------------------------------------------------------------

// A script that adds the table to the page's namespace; the page builds its menu from
// it, and goes without one when the file is absent.
bool write_page(const char* folder) {
    std::string js = "// The factory presets for the editor's menu, written by emberpress-presets\n"
                     "// from the plug-in's preset table. Values in parameter order.\n"
                     "window.Emberpress = Object.assign(window.Emberpress || {}, {\n"
                     "  presets: [\n";
    for (const Preset& p : kPresets) {
        append(js, "    { name: \"%s\", values: [", p.name);
        for (int i = 0; i < kParamCount; ++i)
            append(js, "%s%s", i ? ", " : "", number(p.values[i]).c_str());
        js += "] },\n";
    }
    js += "  ],\n});\n";
    return write_text(join(folder, "presets.js"), js);
}

void list() {
    for (const Preset& p : kPresets) {
        std::printf("%s", p.symbol);
        for (float v : p.values) std::printf(" %s", number(v).c_str());
        std::printf(" %s\n", p.name);
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "lv2" && argc == 4) return write_lv2(argv[2], argv[3]) ? 0 : 1;
    if (command == "vst3" && argc == 3) return write_vst3(argv[2]) ? 0 : 1;
    if (command == "page" && argc == 3) return write_page(argv[2]) ? 0 : 1;
    if (command == "list" && argc == 2) {
        list();
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
