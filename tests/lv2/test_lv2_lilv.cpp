// The bundle as the lilv host library reads it: discovery, the plug-in's description
// and ports, the schema validators, and state through lilv's own state API.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/options/options.h>
#include <lv2/ui/ui.h>
#include <lv2/units/units.h>
#include <lv2/urid/urid.h>

#include "lv2_host.h"
#include "process_posix.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBundleDir = EMBER_LV2_PATH "/fernwood-emberpress.lv2";

// The Windows bundle's data files (no binary): the native tools check them here.
constexpr const char* kWindowsDataDir = EMBER_LV2_WINDOWS_DATA;
constexpr const char* kUiUri = "https://fernwood.audio/plugins/emberpess#ui";

// A lilv world that sees only this build's bundle, or only the bundle in `folder`.
struct World {
    LilvWorld* world;
    const LilvPlugin* plugin = nullptr;
    explicit World(const char* folder = nullptr) {
        setenv("LV2_PATH", EMBER_LV2_PATH, 1);
        world = lilv_world_new();
        if (folder) {
            LilvNode* bundle =
                lilv_new_file_uri(world, nullptr, (std::string(folder) + "/").c_str());
            lilv_world_load_bundle(world, bundle);
            lilv_node_free(bundle);
        } else {
            lilv_world_load_all(world);
        }
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri(kPluginUri));
    }
    ~World() {
        for (LilvNode* n : nodes) lilv_node_free(n);
        lilv_world_free(world);
    }
    // A node that lives as long as the world.
    const LilvNode* uri(const char* u) { return nodes.emplace_back(lilv_new_uri(world, u)); }
    std::vector<LilvNode*> nodes;
};

std::string node_text(const LilvNode* n) {
    return n ? lilv_node_as_string(n) : "<none>";
}

// --- Discovery and description -----------------------------------------------------

TEST(Lv2Lilv, DiscoversTheBundleFromLv2Path) {
    World w;
    const LilvPlugins* all = lilv_world_get_all_plugins(w.world);
    ASSERT_EQ(lilv_plugins_size(all), 1u) << "LV2_PATH holds only this build's bundle";
    ASSERT_NE(w.plugin, nullptr);
    EXPECT_TRUE(lilv_plugin_verify(w.plugin));

    char* bundle =
        lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_bundle_uri(w.plugin)), nullptr);
    char* library =
        lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(w.plugin)), nullptr);
    EXPECT_TRUE(fs::equivalent(bundle, kBundleDir));
    EXPECT_EQ(fs::path(library).filename(), "fernwood-emberpress.so");
    EXPECT_TRUE(fs::exists(library));
    lilv_free(bundle);
    lilv_free(library);
}

TEST(Lv2Lilv, DescribesThePluginAsDeclared) {
    World w;
    ASSERT_NE(w.plugin, nullptr);
    LilvNode* name = lilv_plugin_get_name(w.plugin);
    EXPECT_EQ(node_text(name), "Emberpress");
    lilv_node_free(name);
    // (The class hierarchy lives in the LV2 core bundle, outside this LV2_PATH.)
    LilvNodes* types =
        lilv_plugin_get_value(w.plugin, w.uri("http://www.w3.org/1999/02/22-rdf-syntax-ns#type"));
    EXPECT_TRUE(lilv_nodes_contains(types, w.uri(LV2_CORE__DistortionPlugin)));
    lilv_nodes_free(types);
    LilvNode* author = lilv_plugin_get_author_name(w.plugin);
    EXPECT_EQ(node_text(author), "Fernwood");
    lilv_node_free(author);
    LilvNode* project = lilv_plugin_get_project(w.plugin);
    EXPECT_NE(project, nullptr);
    lilv_node_free(project);
    LilvNodes* license =
        lilv_plugin_get_value(w.plugin, w.uri("http://usefulinc.com/ns/doap#license"));
    EXPECT_EQ(lilv_nodes_size(license), 1u);
    lilv_nodes_free(license);

    LilvNodes* required = lilv_plugin_get_required_features(w.plugin);
    EXPECT_EQ(lilv_nodes_size(required), 1u);
    EXPECT_TRUE(lilv_nodes_contains(required, w.uri(LV2_URID__map)));
    lilv_nodes_free(required);
    LilvNodes* optional = lilv_plugin_get_optional_features(w.plugin);
    EXPECT_TRUE(lilv_nodes_contains(optional, w.uri(LV2_LOG__log)));
    EXPECT_TRUE(lilv_nodes_contains(optional, w.uri(LV2_CORE__hardRTCapable)));
    lilv_nodes_free(optional);
    EXPECT_TRUE(lilv_plugin_has_extension_data(w.plugin, w.uri(LV2_STATE__interface)));
    EXPECT_FALSE(lilv_plugin_has_latency(w.plugin));
}

// What the schema validators do not check: indices without gaps, ranges that hold
// their defaults, numbers of the right type, and values that match the parameter
// table the code uses.
TEST(Lv2Lilv, PortsReadBackAsDeclared) {
    World w;
    ASSERT_NE(w.plugin, nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(w.plugin), PORT_COUNT);
    const LilvNode* audio = w.uri(LV2_CORE__AudioPort);
    const LilvNode* control = w.uri(LV2_CORE__ControlPort);
    const LilvNode* input = w.uri(LV2_CORE__InputPort);
    const LilvNode* output = w.uri(LV2_CORE__OutputPort);
    const LilvNode* unit = w.uri(LV2_UNITS__unit);
    const LilvNode* percent = w.uri(LV2_UNITS__pc);
    const LilvNode* toggled = w.uri(LV2_CORE__toggled);

    const char* symbols[PORT_COUNT] = {"in",   "out", "drive",  "tone",
                                       "heat", "mix", "volume", "enabled"};
    for (uint32_t i = 0; i < PORT_COUNT; ++i) {
        SCOPED_TRACE(symbols[i]);
        const LilvPort* port = lilv_plugin_get_port_by_index(w.plugin, i);
        ASSERT_NE(port, nullptr) << "no port at index " << i;
        EXPECT_EQ(lilv_port_get_index(w.plugin, port), i);
        EXPECT_EQ(node_text(lilv_port_get_symbol(w.plugin, port)), symbols[i]);
        const bool is_audio = i < 2;
        EXPECT_EQ(lilv_port_is_a(w.plugin, port, audio), is_audio);
        EXPECT_EQ(lilv_port_is_a(w.plugin, port, control), !is_audio);
        EXPECT_EQ(lilv_port_is_a(w.plugin, port, input), i != PORT_OUTPUT);
        EXPECT_EQ(lilv_port_is_a(w.plugin, port, output), i == PORT_OUTPUT);
        if (is_audio) continue;

        const int param = static_cast<int>(i) - 2;
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(w.plugin, port, &def, &min, &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_TRUE(lilv_node_is_float(def) && lilv_node_is_float(min) && lilv_node_is_float(max));
        EXPECT_LE(lilv_node_as_float(min), lilv_node_as_float(def));
        EXPECT_LE(lilv_node_as_float(def), lilv_node_as_float(max));
        LilvNode* name = lilv_port_get_name(w.plugin, port);
        if (param == PARAM_BYPASS) {
            // The enable port: 1 processes, 0 bypasses; on by default.
            EXPECT_EQ(lilv_node_as_float(min), 0.0f);
            EXPECT_EQ(lilv_node_as_float(max), 1.0f);
            EXPECT_EQ(lilv_node_as_float(def), 1.0f);
            EXPECT_TRUE(lilv_port_has_property(w.plugin, port, toggled));
            EXPECT_EQ(node_text(name), "Enabled");
        } else {
            EXPECT_EQ(lilv_node_as_float(min), kParams[param].min);
            EXPECT_EQ(lilv_node_as_float(max), kParams[param].max);
            EXPECT_EQ(lilv_node_as_float(def), kParams[param].def);
            EXPECT_EQ(node_text(name), kParams[param].title);
            EXPECT_STREQ(symbols[i], kParams[param].key);
            LilvNodes* units = lilv_port_get_value(w.plugin, port, unit);
            EXPECT_TRUE(units && lilv_nodes_contains(units, percent));
            lilv_nodes_free(units);
            EXPECT_FALSE(lilv_port_has_property(w.plugin, port, toggled));
        }
        lilv_node_free(name);
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
    }

    const LilvPort* enabled =
        lilv_plugin_get_port_by_designation(w.plugin, input, w.uri(LV2_CORE__enabled));
    ASSERT_NE(enabled, nullptr);
    EXPECT_EQ(lilv_port_get_index(w.plugin, enabled), PORT_COUNT - 1);
}

TEST(Lv2Lilv, TheSchemaValidatorFindsNoErrorsInEitherPlatformsBundle) {
    if (!have_program("lv2_validate")) GTEST_SKIP() << "lv2_validate (lv2-dev) is not installed";
    for (const std::string dir : {kBundleDir, kWindowsDataDir}) {
        std::vector<std::string> command = {"lv2_validate", dir + "/manifest.ttl",
                                            dir + "/emberpress.ttl", dir + "/presets.ttl",
                                            dir + "/emberpress_ui.ttl"};
        const CommandResult r = run_command(command);
        EXPECT_EQ(r.status, 0) << dir << "\n" << r.output;
        EXPECT_NE(r.output.find("Found 0 errors"), std::string::npos) << dir << "\n" << r.output;
    }
}

// Both bundles offer the editor under one URI: on Windows inside the plug-in's binary
// with every feature optional, on Linux as an X11 UI in a binary of its own that needs
// the host's window and idle calls.
TEST(Lv2Lilv, BothBundlesOfferTheEditorAsTheirUi) {
    struct Expected {
        const char* dir;
        const char* type;
        const char* binary;
        std::set<std::string> required, optional, options;
    } bundles[] = {
        {kWindowsDataDir,
         LV2_UI__WindowsUI,
         "fernwood-emberpress.dll",
         {},
         {LV2_UI__parent, LV2_UI__touch, LV2_UI__idleInterface, LV2_URID__map, LV2_LOG__log},
         {}},
        {kBundleDir,
         LV2_UI__X11UI,
         "fernwood-emberpress-ui.so",
         {LV2_UI__parent, LV2_UI__idleInterface},
         {LV2_UI__resize, LV2_UI__touch, LV2_URID__map, LV2_LOG__log, LV2_OPTIONS__options},
         {LV2_UI__scaleFactor}},
    };
    for (const Expected& want : bundles) {
        World w(want.dir);
        ASSERT_NE(w.plugin, nullptr) << want.dir;
        LilvUIs* uis = lilv_plugin_get_uis(w.plugin);
        ASSERT_EQ(lilv_uis_size(uis), 1u) << want.dir;
        const LilvUI* ui = lilv_uis_get(uis, lilv_uis_begin(uis));
        const LilvNode* ui_uri = lilv_ui_get_uri(ui);
        EXPECT_EQ(node_text(ui_uri), kUiUri);
        EXPECT_TRUE(lilv_ui_is_a(ui, w.uri(want.type))) << want.dir;
        EXPECT_EQ(fs::path(node_text(lilv_ui_get_binary_uri(ui))).filename(), want.binary);

        auto objects = [&](const char* predicate) {
            std::set<std::string> out;
            LilvNodes* nodes = lilv_world_find_nodes(w.world, ui_uri, w.uri(predicate), nullptr);
            LILV_FOREACH(nodes, i, nodes) out.insert(node_text(lilv_nodes_get(nodes, i)));
            lilv_nodes_free(nodes);
            return out;
        };
        EXPECT_EQ(objects(LV2_CORE__requiredFeature), want.required) << want.dir;
        EXPECT_EQ(objects(LV2_CORE__optionalFeature), want.optional) << want.dir;
        EXPECT_EQ(objects(LV2_OPTIONS__supportedOption), want.options) << want.dir;
        EXPECT_EQ(objects(LV2_CORE__extensionData), std::set<std::string>{LV2_UI__idleInterface});

        // One float notification for each control port, naming the port by index and
        // symbol.
        std::set<uint32_t> notified;
        LilvNodes* notifications =
            lilv_world_find_nodes(w.world, ui_uri, w.uri(LV2_UI__portNotification), nullptr);
        LILV_FOREACH(nodes, i, notifications) {
            const LilvNode* n = lilv_nodes_get(notifications, i);
            auto value = [&](const char* predicate) {
                LilvNode* v = lilv_world_get(w.world, n, w.uri(predicate), nullptr);
                std::string text = node_text(v);
                lilv_node_free(v);
                return text;
            };
            const uint32_t index = std::stoul(value(LV2_UI__portIndex));
            notified.insert(index);
            EXPECT_EQ(value(LV2_UI__plugin), kPluginUri);
            EXPECT_EQ(value(LV2_UI__protocol), LV2_UI__floatProtocol);
            const LilvPort* port = lilv_plugin_get_port_by_index(w.plugin, index);
            ASSERT_NE(port, nullptr) << index;
            EXPECT_EQ(value(LV2_CORE__symbol), node_text(lilv_port_get_symbol(w.plugin, port)));
        }
        lilv_nodes_free(notifications);
        EXPECT_EQ(notified, (std::set<uint32_t>{2, 3, 4, 5, 6, 7})) << want.dir;
    }
}

// --- State through lilv ------------------------------------------------------------

// An instance made by lilv with its ports wired to plain floats.
struct LilvRun {
    HostFeatures host;
    LilvInstance* instance;
    float controls[kParamCount];
    std::vector<float> in, out;
    const LilvPlugin* plugin;

    LilvRun(const LilvPlugin* p, double rate) : plugin(p) {
        instance = lilv_plugin_instantiate(p, rate, host.features(Offer::MapAndLog));
        default_controls(controls);
        for (int i = 0; i < kParamCount; ++i)
            lilv_instance_connect_port(instance, control_port(i), &controls[i]);
    }
    ~LilvRun() { lilv_instance_free(instance); }

    std::vector<float> process(const std::vector<float>& input) {
        std::vector<float> result(input.size());
        for (size_t pos = 0; pos < input.size(); pos += 256) {
            lilv_instance_connect_port(instance, PORT_INPUT, const_cast<float*>(&input[pos]));
            lilv_instance_connect_port(instance, PORT_OUTPUT, &result[pos]);
            lilv_instance_run(instance, 256);
        }
        return result;
    }

    // lilv asks for each input control port's value and sets it back on restore.
    static const void* get_value(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
        auto* self = static_cast<LilvRun*>(user);
        const int index = port_index(self->plugin, symbol);
        if (index < 0) return nullptr;
        *size = sizeof(float);
        *type = self->host.urids.map(LV2_ATOM__Float);
        return &self->controls[index - 2];
    }
    static void set_value(const char* symbol, void* user, const void* value, uint32_t size,
                          uint32_t) {
        auto* self = static_cast<LilvRun*>(user);
        const int index = port_index(self->plugin, symbol);
        if (index >= 2 && size == sizeof(float))
            std::memcpy(&self->controls[index - 2], value, sizeof(float));
    }
    static int port_index(const LilvPlugin* plugin, const char* symbol) {
        for (uint32_t i = 2; i < PORT_COUNT; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            if (!std::strcmp(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), symbol))
                return static_cast<int>(i);
        }
        return -1;
    }

    LilvState* save() {
        return lilv_state_new_from_instance(plugin, instance, host.urids.map_feature_data(),
                                            nullptr, nullptr, nullptr, nullptr, get_value, this,
                                            LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE,
                                            host.features(Offer::MapAndLog));
    }
    void restore(const LilvState* state) {
        lilv_state_restore(state, instance, set_value, this, 0, host.features(Offer::MapAndLog));
    }
};

TEST(Lv2Lilv, StateSavedAndRestoredThroughLilvSoundsTheSame) {
    World w;
    ASSERT_NE(w.plugin, nullptr);
    const float settings[kParamCount] = {72, 35, 64, 80, 130, 1};
    const auto input = test_signal(16384, 48000);

    LilvRun source(w.plugin, 48000);
    for (int i = 0; i < 5; ++i) source.controls[i] = settings[i];
    lilv_instance_activate(source.instance);
    source.process(std::vector<float>(256, 0.0f));
    LilvState* state = source.save();
    ASSERT_NE(state, nullptr);

    // The chunk travels through lilv's text form and back.
    char* text = lilv_state_to_string(w.world, source.host.urids.map_feature_data(),
                                      source.host.urids.unmap_feature_data(), state,
                                      "urn:emberpress:test", nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text).find(kStateKeyUri), std::string::npos) << text;

    LilvRun fresh(w.plugin, 48000);
    LilvState* parsed =
        lilv_state_new_from_string(w.world, fresh.host.urids.map_feature_data(), text);
    lilv_free(text);
    ASSERT_NE(parsed, nullptr);
    lilv_instance_activate(fresh.instance);
    fresh.restore(parsed);
    for (int i = 0; i < kParamCount; ++i) EXPECT_EQ(fresh.controls[i], source.controls[i]);
    // Only the chunk speaks from here: the control ports are unplugged.
    for (int i = 0; i < kParamCount; ++i)
        lilv_instance_connect_port(fresh.instance, control_port(i), nullptr);

    // Restored values reach the engine at the next block, exactly as port changes do.
    LilvRun twin(w.plugin, 48000);
    lilv_instance_activate(twin.instance);
    std::memcpy(twin.controls, source.controls, sizeof twin.controls);
    EXPECT_TRUE(bit_equal(fresh.process(input), twin.process(input)));

    lilv_state_free(parsed);
    lilv_state_free(state);
}

} // namespace
