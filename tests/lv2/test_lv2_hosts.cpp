// Hosts nobody here wrote: lv2apply renders files through the bundle (one frame per
// run, no host features at all), jalv runs the plug-in as a JACK client on a private
// server with the dummy backend (no sound hardware), and lilv's state API loads the
// factory presets.

#include <gtest/gtest.h>

#include <sndfile.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <lilv/lilv.h>

#include "engine/presets.h"
#include "lv2_host.h"
#include "process_posix.h"
#include "state/plugin_state.h"

namespace fs = std::filesystem;

namespace {

const std::string kLv2Path = std::string("LV2_PATH=") + EMBER_LV2_PATH;

// A folder of its own for one test, removed afterwards.
struct TempDir {
    fs::path path;
    explicit TempDir(const std::string& name)
        : path(fs::temp_directory_path() /
               ("emberpress-" + name + "-" + std::to_string(getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& file) const { return (path / file).string(); }
};

bool write_wav(const std::string& path, const std::vector<float>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const sf_count_t n = static_cast<sf_count_t>(samples.size());
    const bool ok = sf_writef_float(f, samples.data(), n) == n;
    return sf_close(f) == 0 && ok;
}

std::vector<float> read_wav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f || info.channels != 1) {
        if (f) sf_close(f);
        return {};
    }
    std::vector<float> samples(static_cast<size_t>(info.frames));
    sf_readf_float(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

// --- lv2apply --------------------------------------------------------------------

struct Setting {
    const char* name;
    std::vector<std::string> lv2apply; // -c SYMBOL VALUE ...
    std::vector<std::string> render;   // emberpress-render options
};

TEST(Lv2Apply, RendersTheSameSamplesAsEmberpressRender) {
    if (!have_program("lv2apply")) GTEST_SKIP() << "lv2apply (lilv-utils) is not installed";
    if (!*EMBER_RENDER) GTEST_SKIP() << "emberpress-render (tools/render) is not built yet";

    const Setting settings[] = {
        {"defaults", {}, {}},
        {"driven",
         {"-c", "drive", "90", "-c", "tone", "20", "-c", "heat", "80", "-c", "mix", "70", "-c",
          "volume", "150"},
         {"--drive", "90", "--tone", "20", "--heat", "80", "--mix", "70", "--volume", "150"}},
        {"bypassed", {"-c", "enabled", "0"}, {"--bypass"}},
    };
    TempDir dir("lv2apply");
    for (int rate : {44100, 96000}) {
        const std::string in = dir / ("in-" + std::to_string(rate) + ".wav");
        ASSERT_TRUE(write_wav(in, test_signal(static_cast<size_t>(rate / 2), rate), rate));
        for (const Setting& s : settings) {
            SCOPED_TRACE(std::string(s.name) + " at " + std::to_string(rate));
            const std::string host_out = dir / "lv2apply.wav";
            const std::string render_out = dir / "render.wav";
            std::vector<std::string> apply = {"lv2apply", "-i", in, "-o", host_out};
            apply.insert(apply.end(), s.lv2apply.begin(), s.lv2apply.end());
            apply.push_back(kPluginUri);
            const CommandResult a = run_command(apply, "", {kLv2Path}, 120);
            ASSERT_EQ(a.status, 0) << a.output;
            // lv2apply offers no URID map: the plug-in says so and runs anyway.
            EXPECT_NE(a.output.find("Missing feature <http://lv2plug.in/ns/ext/urid#map>"),
                      std::string::npos)
                << a.output;

            std::vector<std::string> render = {EMBER_RENDER, in, render_out};
            render.insert(render.end(), s.render.begin(), s.render.end());
            const CommandResult r = run_command(render, "", {}, 120);
            ASSERT_EQ(r.status, 0) << r.output;

            const auto from_host = read_wav(host_out);
            const auto from_render = read_wav(render_out);
            ASSERT_EQ(from_host.size(), static_cast<size_t>(rate / 2));
            EXPECT_TRUE(bit_equal(from_host, from_render));
        }
    }
}

// --- jalv ------------------------------------------------------------------------

// Runs jalv with the given arguments, feeding its console `commands`; it exits at
// the end of its input.
CommandResult run_jalv(const JackServer& jack, std::vector<std::string> args,
                       const std::string& commands) {
    std::vector<std::string> argv = {"jalv", "-n", "emberpress-test"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(kPluginUri);
    return run_command(argv, commands, {kLv2Path, jack.env()}, 60);
}

bool have_jack_and_jalv() {
    return have_program("jalv") && have_program("jackd") && have_program("jack_wait");
}

TEST(Lv2Jalv, TakesControlValuesFromItsCommandLineAndConsole) {
    if (!have_jack_and_jalv()) GTEST_SKIP() << "jalv and jackd2 are not installed";
    TempDir dir("jalv-controls");
    JackServer jack(dir / "jackd.log");
    ASSERT_TRUE(jack.wait_ready()) << "the JACK dummy server did not start";

    const CommandResult r =
        run_jalv(jack, {"-c", "volume=150", "-c", "enabled=0"}, "set drive 33\ncontrols\n");
    ASSERT_FALSE(r.timed_out) << r.output;
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Sample rate:  48000 Hz"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("drive = 33.000000\ntone = 50.000000\nheat = 50.000000\n"
                            "mix = 100.000000\nvolume = 150.000000\nenabled = 0.000000"),
              std::string::npos)
        << r.output;
}

// Our state written to a folder through lilv's state API, as hosts store sessions.
bool save_state_dir(const std::string& dir, const float controls[kParamCount]) {
    setenv("LV2_PATH", EMBER_LV2_PATH, 1);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* uri = lilv_new_uri(world, kPluginUri);
    const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
    lilv_node_free(uri);
    bool ok = false;
    if (plugin) {
        HostFeatures host;
        float ports[kParamCount];
        std::memcpy(ports, controls, sizeof ports);
        LilvInstance* instance =
            lilv_plugin_instantiate(plugin, 48000, host.features(Offer::MapAndLog));
        std::vector<float> in(256, 0.0f), out(256);
        lilv_instance_connect_port(instance, PORT_INPUT, in.data());
        lilv_instance_connect_port(instance, PORT_OUTPUT, out.data());
        for (int i = 0; i < kParamCount; ++i)
            lilv_instance_connect_port(instance, control_port(i), &ports[i]);
        lilv_instance_activate(instance);
        lilv_instance_run(instance, 256);

        struct PortReader {
            const LilvPlugin* plugin;
            float* ports;
            uint32_t float_type;
        } reader{plugin, ports, host.urids.map("http://lv2plug.in/ns/ext/atom#Float")};
        auto get_value = [](const char* symbol, void* user, uint32_t* size,
                            uint32_t* type) -> const void* {
            auto* r = static_cast<PortReader*>(user);
            for (int i = 0; i < kParamCount; ++i) {
                const LilvPort* port = lilv_plugin_get_port_by_index(r->plugin, control_port(i));
                if (!std::strcmp(lilv_node_as_string(lilv_port_get_symbol(r->plugin, port)),
                                 symbol)) {
                    *size = sizeof(float);
                    *type = r->float_type;
                    return &r->ports[i];
                }
            }
            return nullptr;
        };
        LilvState* state = lilv_state_new_from_instance(
            plugin, instance, host.urids.map_feature_data(), nullptr, nullptr, nullptr, nullptr,
            get_value, &reader, LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
            host.features(Offer::MapAndLog));
        ok = state &&
             lilv_state_save(world, host.urids.map_feature_data(), host.urids.unmap_feature_data(),
                             state, nullptr, dir.c_str(), "state.ttl") == 0;
        lilv_state_free(state);
        lilv_instance_free(instance);
    }
    lilv_world_free(world);
    return ok;
}

TEST(Lv2Jalv, LoadsAStateDirectoryOurStateCodeWrote) {
    if (!have_jack_and_jalv()) GTEST_SKIP() << "jalv and jackd2 are not installed";
    TempDir dir("jalv-state");
    const float controls[kParamCount] = {12, 34, 56, 78, 190, 1};
    ASSERT_TRUE(save_state_dir(dir / "state", controls));
    JackServer jack(dir / "jackd.log");
    ASSERT_TRUE(jack.wait_ready()) << "the JACK dummy server did not start";

    const CommandResult r = run_jalv(jack, {"-l", dir / "state"}, "controls\n");
    ASSERT_FALSE(r.timed_out) << r.output;
    EXPECT_EQ(r.status, 0) << r.output;
    // The chunk was there to restore: the plug-in has nothing to complain about.
    EXPECT_EQ(r.output.find("Cannot restore state"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("drive = 12.000000\ntone = 34.000000\nheat = 56.000000\n"
                            "mix = 78.000000\nvolume = 190.000000\nenabled = 1.000000"),
              std::string::npos)
        << r.output;
}

// --- Factory presets ----------------------------------------------------------------

std::string preset_uri(const Preset& p) {
    return std::string(kPluginUri) + "/presets#" + p.symbol;
}

// What the control ports hold with a preset: its values, the enable port the inverse
// of bypass.
std::vector<float> preset_ports(const Preset& p) {
    std::vector<float> ports(p.values, p.values + kParamCount);
    ports[PARAM_BYPASS] = p.values[PARAM_BYPASS] >= 0.5f ? 0.0f : 1.0f;
    return ports;
}

// A preset through lilv's state API, twice: as hosts apply it to a new instance (port
// values before activation), which must sound exactly as emberpress-render with the same
// values; and through the state property alone, which must reach the engine too.
TEST(Lv2Presets, LoadedThroughLilvTheySoundExactlyAsEmberpressRender) {
    if (!*EMBER_RENDER) GTEST_SKIP() << "emberpress-render (tools/render) is not built yet";
    TempDir dir("lilv-presets");
    const std::vector<float> input = test_signal(16384, 48000);
    ASSERT_TRUE(write_wav(dir / "in.wav", input, 48000));

    setenv("LV2_PATH", EMBER_LV2_PATH, 1);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    LilvNode* plugin_uri = lilv_new_uri(world, kPluginUri);
    const LilvPlugin* plugin =
        lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), plugin_uri);
    lilv_node_free(plugin_uri);
    ASSERT_NE(plugin, nullptr);

    struct Ports {
        const LilvPlugin* plugin;
        LilvWorld* world;
        float values[kParamCount];
    };
    auto set_value = [](const char* symbol, void* user, const void* value, uint32_t size,
                        uint32_t) {
        auto* ports = static_cast<Ports*>(user);
        LilvNode* s = lilv_new_string(ports->world, symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(ports->plugin, s);
        lilv_node_free(s);
        const uint32_t index = port ? lilv_port_get_index(ports->plugin, port) : 0;
        if (index >= 2 && index < PORT_COUNT && size == sizeof(float))
            std::memcpy(&ports->values[index - 2], value, sizeof(float));
    };

    for (const Preset& preset : kPresets) {
        SCOPED_TRACE(preset.name);
        LilvNode* node = lilv_new_uri(world, preset_uri(preset).c_str());
        lilv_world_load_resource(world, node);
        HostFeatures host;
        LilvState* state = lilv_state_new_from_world(world, host.urids.map_feature_data(), node);
        lilv_node_free(node);
        ASSERT_NE(state, nullptr);
        EXPECT_STREQ(lilv_state_get_label(state), preset.name);

        Ports ports{plugin, world, {}};
        default_controls(ports.values);
        LilvInstance* instance =
            lilv_plugin_instantiate(plugin, 48000, host.features(Offer::MapAndLog));
        ASSERT_NE(instance, nullptr);
        for (int i = 0; i < kParamCount; ++i)
            lilv_instance_connect_port(instance, control_port(i), &ports.values[i]);
        lilv_state_restore(state, instance, set_value, &ports, 0, host.features(Offer::MapAndLog));
        EXPECT_EQ(std::vector<float>(ports.values, ports.values + kParamCount),
                  preset_ports(preset));
        EXPECT_TRUE(host.log.entries().empty()) << host.log.entries()[0].text;
        lilv_instance_activate(instance);
        std::vector<float> out(input.size());
        for (size_t pos = 0; pos < input.size(); pos += 256) {
            lilv_instance_connect_port(instance, PORT_INPUT, const_cast<float*>(&input[pos]));
            lilv_instance_connect_port(instance, PORT_OUTPUT, &out[pos]);
            lilv_instance_run(instance, 256);
        }
        lilv_instance_free(instance);

        std::vector<std::string> render = {EMBER_RENDER, dir / "in.wav", dir / "render.wav"};
        for (int i = 0; i < PARAM_BYPASS; ++i) {
            char value[32];
            std::snprintf(value, sizeof value, "%.9g", double(preset.values[i]));
            render.insert(render.end(), {std::string("--") + kParams[i].key, value});
        }
        const CommandResult r = run_command(render, "", {}, 120);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_TRUE(bit_equal(out, read_wav(dir / "render.wav")));

        // The state property alone, into an instance running at the defaults with its
        // control ports unplugged: the engine has the preset's values after one block.
        instance = lilv_plugin_instantiate(plugin, 48000, host.features(Offer::MapAndLog));
        ASSERT_NE(instance, nullptr);
        std::vector<float> silence(256, 0.0f), sink(256);
        lilv_instance_connect_port(instance, PORT_INPUT, silence.data());
        lilv_instance_connect_port(instance, PORT_OUTPUT, sink.data());
        lilv_instance_activate(instance);
        lilv_state_restore(state, instance, nullptr, nullptr, 0, host.features(Offer::MapAndLog));
        lilv_instance_run(instance, 256);
        auto* iface = static_cast<const LV2_State_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_STATE__interface));
        MemoryState saved;
        ASSERT_EQ(iface->save(lilv_instance_get_handle(instance), MemoryState::store, &saved, 0,
                              host.features(Offer::MapAndLog)),
                  LV2_STATE_SUCCESS);
        const auto& bytes = saved.properties[host.urids.map(kStateKeyUri)].bytes;
        float engine[kParamCount];
        ASSERT_EQ(plugin_state_load(bytes.data(), bytes.size(), engine), 0);
        EXPECT_EQ(std::vector<float>(engine, engine + kParamCount),
                  std::vector<float>(preset.values, preset.values + kParamCount));
        lilv_instance_free(instance);
        lilv_state_free(state);
    }
    lilv_world_free(world);
}

} // namespace
