// Native loader: the real lilv host library finds the bundle through LV2_PATH and
// instantiates the plug-in.
#include "loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <lilv/lilv.h>

#include "lv2_host.h"

namespace {

struct World {
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;

    World() {
        // LV2_PATH replaces the default search path: only this build's bundle is seen.
        setenv("LV2_PATH", EMBER_LV2_PATH, 1);
        world = lilv_world_new();
        lilv_world_load_all(world);
        LilvNode* uri = lilv_new_uri(world, kPluginUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
    }
    ~World() { lilv_world_free(world); }
};

World& world() {
    static World w;
    return w;
}

} // namespace

const LV2_Descriptor* loader_descriptor(uint32_t index) {
    const LilvPlugin* plugin = world().plugin;
    if (!plugin) return nullptr;
    const char* uri = lilv_node_as_uri(lilv_plugin_get_library_uri(plugin));
    char* path = lilv_file_uri_parse(uri, nullptr);
    void* lib = dlopen(path, RTLD_NOW);
    lilv_free(path);
    if (!lib) return nullptr;
    auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib, "lv2_descriptor"));
    return entry ? entry(index) : nullptr;
}

LoadedInstance loader_instantiate(double rate, const LV2_Feature* const* features) {
    LoadedInstance out;
    const LilvPlugin* plugin = world().plugin;
    if (!plugin) return out;
    LilvInstance* instance = lilv_plugin_instantiate(plugin, rate, features);
    if (!instance) return out;
    out.descriptor = lilv_instance_get_descriptor(instance);
    out.handle = lilv_instance_get_handle(instance);
    out.owner = instance;
    return out;
}

void loader_free(LoadedInstance& instance) {
    if (instance.owner) lilv_instance_free(static_cast<LilvInstance*>(instance.owner));
    instance = LoadedInstance{};
}

std::string loader_bundle_dir() {
    return std::string(EMBER_LV2_PATH) + "/fernwood-emberpress.lv2/";
}
