// The processor's saved state: what getState writes, what setState accepts, and that
// every refused state leaves the processor exactly as it was.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>

#include "host.h"
#include "state/plugin_state.h"
#include "state/state_archive.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Entries = std::map<std::string, Bytes>;

Bytes f32(float f) {
    Bytes b(4);
    std::memcpy(b.data(), &f, 4);
    return b;
}
Bytes text(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

// A state archive with the given info and parameter entries, written by the state
// library, so that single entries can be left out or spoiled.
Bytes archive(const Entries& info, const Entries& params) {
    state_archive a;
    EXPECT_EQ(state_archive_init(&a), 0);
    for (const auto& [k, v] : info) kv_map_insert(a.info, k.data(), k.size(), v.data(), v.size());
    for (const auto& [k, v] : params)
        kv_map_insert(a.parameters, k.data(), k.size(), v.data(), v.size());
    size_t len = 0;
    uint8_t* bytes = state_archive_save(&a, &len);
    Bytes out(bytes, bytes + len);
    std::free(bytes);
    state_archive_free(&a);
    return out;
}

Entries good_info() {
    return {{"id", text("fernwood-emberpress")}, {"format", text("vst3")}};
}
Entries params_of(const std::vector<float>& v) {
    Entries e;
    for (int i = 0; i < kParamCount; ++i) e[kParams[i].key] = f32(v[size_t(i)]);
    return e;
}

const std::vector<float> kSetA = {10, 20, 30, 40, 150, 1};

// Runs one empty block so that restored values reach the engine.
void settle(ActiveProcessor& p) {
    float in[8] = {}, out[8];
    p.process(in, out, 8);
}

} // namespace

TEST(Vst3State, SavedStateHasTheFixedLayoutAndEntries) {
    IComponent* c = new_processor();
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->vtbl->initialize(c, reinterpret_cast<FUnknown*>(c)), kResultOk);
    MemoryStream s;
    ASSERT_EQ(c->vtbl->getState(c, s.stream()), kResultOk);
    EXPECT_EQ(s.bytes.size(), 5632u);
    EXPECT_EQ(state_info_text(s.bytes, "id"), "fernwood-emberpress");
    EXPECT_EQ(state_info_text(s.bytes, "format"), "vst3");
    EXPECT_EQ(state_info_text(s.bytes, "platform"), kPluginPlatform);
    EXPECT_EQ(state_info_float(s.bytes, "sample_rate"), 0.0f) << "never activated";
    EXPECT_EQ(state_values(s.bytes), std::vector<float>(kParamDefaults, kParamDefaults + 6));
    const uint32_t version_major = 1, version_minor = 2;
    EXPECT_EQ(state_info_text(s.bytes, "version_major"),
              std::string(reinterpret_cast<const char*>(&version_major), 4));
    EXPECT_EQ(state_info_text(s.bytes, "version_minor"),
              std::string(reinterpret_cast<const char*>(&version_minor), 4));
    EXPECT_EQ(c->vtbl->getState(c, nullptr), kResultFalse);
    EXPECT_EQ(c->vtbl->setState(c, nullptr), kResultFalse);
    release(c);

    ActiveProcessor p(44100);
    EXPECT_EQ(state_info_float(p.state(), "sample_rate"), 44100.0f);
}

TEST(Vst3State, WritesFromTheStreamPositionAndReportsShortWrites) {
    ActiveProcessor p;
    MemoryStream s(Bytes(10, 0xEE));
    s.pos = 10;
    ASSERT_EQ(p.component->vtbl->getState(p.component, s.stream()), kResultOk);
    EXPECT_EQ(s.bytes.size(), 5642u);
    EXPECT_EQ(Bytes(s.bytes.begin(), s.bytes.begin() + 10), Bytes(10, 0xEE));
    EXPECT_EQ(Bytes(s.bytes.begin() + 10, s.bytes.end()), p.state());

    MemoryStream full;
    full.write_limit = 1000;
    EXPECT_EQ(p.component->vtbl->getState(p.component, full.stream()), kResultFalse);
    EXPECT_EQ(full.bytes.size(), 1000u) << "the bytes accepted so far stay written";
}

TEST(Vst3State, RestoresClampsAndAppliesAtTheNextBlock) {
    ActiveProcessor p;
    const Bytes before = p.state();
    ASSERT_EQ(p.set_state(archive(good_info(), params_of(kSetA))), kResultOk);
    EXPECT_EQ(p.state(), before) << "the engine has not had the values yet";
    settle(p);
    EXPECT_EQ(state_values(p.state()), kSetA);

    // Out-of-range values are clamped, the toggle rounds at 0.5.
    ASSERT_EQ(p.set_state(archive(good_info(), params_of({-5, 150, 100, 100, 500, 0.7f}))),
              kResultOk);
    settle(p);
    EXPECT_EQ(state_values(p.state()), std::vector<float>({0, 100, 100, 100, 200, 1}));
    ASSERT_EQ(p.set_state(archive(good_info(), params_of({1, 2, 3, 4, 5, 0.49f}))), kResultOk);
    settle(p);
    EXPECT_EQ(state_values(p.state())[5], 0.0f);
}

TEST(Vst3State, ReadsTheWholeStreamFromItsStartAndTakesOtherFormats) {
    ActiveProcessor p;
    // Written by the LV2 plug-in: same layout, "format" "lv2".
    size_t len = 0;
    uint8_t* bytes = plugin_state_save(kSetA.data(), "lv2", kPluginPlatform, 44100.0f, &len);
    ASSERT_NE(bytes, nullptr);
    MemoryStream s(Bytes(bytes, bytes + len));
    std::free(bytes);
    s.pos = 1234; // handed over mid-stream
    ASSERT_EQ(p.component->vtbl->setState(p.component, s.stream()), kResultOk);
    settle(p);
    EXPECT_EQ(state_values(p.state()), kSetA);
    EXPECT_EQ(state_info_text(p.state(), "format"), "vst3");
}

TEST(Vst3State, RefusedStatesChangeNothing) {
    ActiveProcessor p;
    ParamChanges changes;
    changes.add(1955105482u, {{0, 0.33}});
    float in[8] = {}, out[8];
    p.process(in, out, 8, changes.changes());
    const Bytes before = p.state();

    const Bytes good = archive(good_info(), params_of(kSetA));
    std::vector<std::pair<const char*, std::unique_ptr<MemoryStream>>> cases;
    auto stream = [](Bytes b) { return std::make_unique<MemoryStream>(std::move(b)); };
    cases.emplace_back("empty stream", stream({}));
    cases.emplace_back("not an archive", stream(text("hello, this is not a tar file")));
    cases.emplace_back("truncated", stream(Bytes(good.begin(), good.begin() + 700)));
    Entries foreign = good_info();
    foreign["id"] = text("fernwood-emberpresz");
    cases.emplace_back("foreign id", stream(archive(foreign, params_of(kSetA))));
    Entries longer = good_info();
    longer["id"] = text("fernwood-emberpress2");
    cases.emplace_back("longer id", stream(archive(longer, params_of(kSetA))));
    Entries no_id = good_info();
    no_id.erase("id");
    cases.emplace_back("no id", stream(archive(no_id, params_of(kSetA))));
    Entries no_mix = params_of(kSetA);
    no_mix.erase("mix");
    cases.emplace_back("no mix", stream(archive(good_info(), no_mix)));
    Entries nan_drive = params_of(kSetA);
    nan_drive["drive"] = f32(std::nanf(""));
    cases.emplace_back("NaN drive", stream(archive(good_info(), nan_drive)));
    Entries short_tone = params_of(kSetA);
    short_tone["tone"] = Bytes(3, 0);
    cases.emplace_back("3-byte tone", stream(archive(good_info(), short_tone)));
    Entries long_bypass = params_of(kSetA);
    long_bypass["bypass"] = Bytes(8, 0);
    cases.emplace_back("8-byte bypass", stream(archive(good_info(), long_bypass)));
    cases.emplace_back("seek fails", stream(good));
    cases.back().second->fail_seek = true;
    cases.emplace_back("tell fails", stream(good));
    cases.back().second->fail_tell = true;
    cases.emplace_back("short read", stream(good));
    cases.back().second->short_read = true;

    for (auto& [what, s] : cases) {
        EXPECT_EQ(p.component->vtbl->setState(p.component, s->stream()), kResultFalse) << what;
        settle(p);
        EXPECT_EQ(p.state(), before) << what;
    }
}
