// The module-entry code, built into a probe module and loaded from a bundle folder
// whose path is long (past 260 characters) and not plain ASCII: the module's folder and
// the bundle's Resources folder come out whole, and entry and exit pairs are counted.
#include <filesystem>
#include <gtest/gtest.h>

#include "host.h"

namespace fs = std::filesystem;

namespace {

fs::path utf8_path(const std::string& s) {
    return fs::path(std::u8string(s.begin(), s.end()));
}

struct Probe {
    LoadedModule module;
    std::string bundle; // UTF-8, with the platform's separators
    char sep = kComCompatible ? '\\' : '/';
    const char* (*folder)() = nullptr;
    const char* (*resources)() = nullptr;

    Probe() {
        const std::string arch = kComCompatible ? "x86_64-win" : "x86_64-linux";
        bundle = scratch_folder();
        for (char part : {'a', 'b', 'c'}) bundle += sep + std::string(90, part);
        bundle += sep + std::string("\xC3\x9C"
                                    "ber-Probe \xE2\x80\x93 1.vst3");
        const std::string contents = bundle + sep + "Contents" + sep + arch;
        std::error_code ec;
        fs::create_directories(utf8_path(contents), ec);
        EXPECT_FALSE(ec) << ec.message();
        const std::string file = contents + sep + "probe.vst3";
        fs::copy_file(EMBER_VST3_PROBE, utf8_path(file), fs::copy_options::overwrite_existing, ec);
        EXPECT_FALSE(ec) << ec.message();
        EXPECT_GT(file.size(), 300u);
        module = module_load(file);
        EXPECT_NE(module.handle, nullptr) << module.error;
        folder = reinterpret_cast<const char* (*)()>(module_symbol(module, "probe_module_folder"));
        resources =
            reinterpret_cast<const char* (*)()>(module_symbol(module, "probe_resources_folder"));
    }
    ~Probe() {
        module_unload(module);
        std::error_code ec;
        fs::remove_all(utf8_path(scratch_folder()), ec);
    }
    std::string expected_folder() const {
        return bundle + sep + "Contents" + sep + (kComCompatible ? "x86_64-win" : "x86_64-linux");
    }
    std::string expected_resources() const { return bundle + sep + "Contents" + sep + "Resources"; }
};

std::string or_null(const char* s) {
    return s ? s : "(null)";
}

} // namespace

TEST(Vst3ModuleEntry, FindsLongAndNonAsciiBundleFolders) {
    Probe probe;
    ASSERT_TRUE(probe.folder && probe.resources);
    using Entry = bool (*)(void*);
    using Exit = bool (*)();
    auto entry = reinterpret_cast<Entry>(module_symbol(probe.module, "ModuleEntry"));
    auto exit = reinterpret_cast<Exit>(module_symbol(probe.module, "ModuleExit"));
    if (kComCompatible) {
        // Windows: DllMain made the paths when the module was loaded.
        EXPECT_EQ(entry, nullptr);
        EXPECT_EQ(or_null(probe.folder()), probe.expected_folder());
        EXPECT_EQ(or_null(probe.resources()), probe.expected_resources());
        return;
    }
    // Linux: the first entry makes the paths, the matching last exit frees them.
    ASSERT_TRUE(entry && exit);
    EXPECT_EQ(probe.folder(), nullptr);
    EXPECT_FALSE(exit()) << "an exit without an entry";
    EXPECT_TRUE(entry(probe.module.handle));
    EXPECT_TRUE(entry(probe.module.handle));
    EXPECT_EQ(or_null(probe.folder()), probe.expected_folder());
    EXPECT_EQ(or_null(probe.resources()), probe.expected_resources());
    EXPECT_TRUE(exit());
    EXPECT_EQ(or_null(probe.folder()), probe.expected_folder()) << "one entry still open";
    EXPECT_TRUE(exit());
    EXPECT_EQ(probe.folder(), nullptr);
    EXPECT_EQ(probe.resources(), nullptr);
    EXPECT_FALSE(exit());
}

TEST(Vst3ModuleEntry, TheBundleUnderTestHasItsEntryPoints) {
    const LoadedModule& m = test_module();
    ASSERT_NE(m.handle, nullptr) << m.error;
    EXPECT_NE(module_symbol(m, "GetPluginFactory"), nullptr);
    EXPECT_EQ(module_symbol(m, "ModuleEntry") != nullptr, !kComCompatible);
    EXPECT_EQ(module_symbol(m, "ModuleExit") != nullptr, !kComCompatible);
}
