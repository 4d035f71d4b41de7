// The edit controller through its table: parameter rows, value texts, conversions,
// the component state from a processor, and the component handler's references.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

#include "host.h"

namespace {

constexpr ParamID kDriveId = 1955105482u, kToneId = 1278044914u, kVolumeId = 115099194u,
                  kBypassId = 150732888u;

struct Controller {
    IEditController* e = new_controller();
    Controller() {
        if (e) {
            EXPECT_EQ(e->vtbl->initialize(e, reinterpret_cast<FUnknown*>(e)), kResultOk);
        }
    }
    ~Controller() {
        if (!e) return;
        e->vtbl->terminate(e);
        EXPECT_EQ(release(e), 0u);
    }
    std::u16string text(ParamID id, double normalized) {
        String128 s;
        EXPECT_EQ(e->vtbl->getParamStringByValue(e, id, normalized, s), kResultOk);
        return u16(s);
    }
    double value(ParamID id, const char16_t* text) {
        std::u16string t(text);
        double v = -99;
        EXPECT_EQ(e->vtbl->getParamValueByString(e, id, t.data(), &v), kResultOk);
        return v;
    }
    double normalized(ParamID id) { return e->vtbl->getParamNormalized(e, id); }
};

} // namespace

TEST(Vst3Controller, DescribesTheSixParameters) {
    Controller c;
    IEditController* e = c.e;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->vtbl->initialize(e, reinterpret_cast<FUnknown*>(e)), kResultFalse);
    EXPECT_EQ(e->vtbl->getParameterCount(e), 6);
    struct Row {
        ParamID id;
        const char16_t* title;
        const char16_t* units;
        int32_t steps;
        double def;
        int32_t flags;
    };
    const Row rows[6] = {
        {kDriveId, u"Drive", u"%", 0, 0.5, 1},   {kToneId, u"Tone", u"%", 0, 0.5, 1},
        {417465296u, u"Heat", u"%", 0, 0.5, 1},  {907392060u, u"Mix", u"%", 0, 1.0, 1},
        {kVolumeId, u"Volume", u"%", 0, 0.5, 1}, {kBypassId, u"Bypass", u"", 1, 0.0, 0x10001}};
    for (int i = 0; i < 6; ++i) {
        ParameterInfo info{};
        ASSERT_EQ(e->vtbl->getParameterInfo(e, i, &info), kResultOk);
        EXPECT_EQ(info.id, rows[i].id);
        EXPECT_EQ(u16(info.title), rows[i].title);
        EXPECT_EQ(u16(info.shortTitle), rows[i].title);
        EXPECT_EQ(u16(info.units), rows[i].units);
        EXPECT_EQ(info.stepCount, rows[i].steps);
        EXPECT_EQ(info.defaultNormalizedValue, rows[i].def);
        EXPECT_EQ(info.unitId, 0);
        EXPECT_EQ(info.flags, rows[i].flags);
        EXPECT_EQ(c.normalized(rows[i].id), rows[i].def) << "initialised to the default";
    }
    for (int32_t bad : {6, -1, 0x7FFFFFFF}) {
        ParameterInfo info;
        std::memset(&info, 0x11, sizeof info);
        EXPECT_EQ(e->vtbl->getParameterInfo(e, bad, &info), kResultFalse);
        EXPECT_EQ(info.stepCount, 0x11111111);
    }
    EXPECT_EQ(e->vtbl->setState(e, nullptr), kNotImplemented);
    EXPECT_EQ(e->vtbl->getState(e, nullptr), kNotImplemented);
}

TEST(Vst3Controller, ShowsValuesWithTwoTruncatedDecimals) {
    Controller c;
    EXPECT_EQ(c.text(kDriveId, 0.5), u"50.00");
    EXPECT_EQ(c.text(kDriveId, 0.29), u"28.99");
    EXPECT_EQ(c.text(kDriveId, 0.123), u"12.30");
    EXPECT_EQ(c.text(kDriveId, 0.0), u"0.00");
    EXPECT_EQ(c.text(kDriveId, -0.2), u"-20.00");
    EXPECT_EQ(c.text(kDriveId, 1.5), u"150.00");
    EXPECT_EQ(c.text(kVolumeId, 1.0), u"200.00");
    EXPECT_EQ(c.text(kVolumeId, 0.5), u"100.00");
    EXPECT_EQ(c.text(kBypassId, 1.0), u"1.00");
    EXPECT_EQ(c.text(kBypassId, 0.5), u"0.50") << "the toggle is not rounded for display";
    EXPECT_EQ(c.text(kDriveId, 1e12), u"100000000000000.00");

    String128 s = {u'x', 0};
    EXPECT_EQ(c.e->vtbl->getParamStringByValue(c.e, 42u, 0.5, s), kResultFalse);
    EXPECT_EQ(u16(s), u"x");
}

TEST(Vst3Controller, ValueTextStaysInsideItsBufferForAnyValue) {
    Controller c;
    EXPECT_EQ(c.text(kDriveId, std::nan("")), u"nan");
    EXPECT_EQ(c.text(kDriveId, INFINITY), u"inf");
    EXPECT_EQ(c.text(kDriveId, -INFINITY), u"-inf");
    EXPECT_EQ(c.text(kDriveId, 1e300), u"1.00e+302");
    EXPECT_EQ(c.text(kVolumeId, -1e300), u"-2.00e+302");
    EXPECT_EQ(c.text(kDriveId, 1e13), u"1.00e+15");
    for (double v : {1e300, -1.7e308, 1.7e308, 1e20, 5e-324}) {
        char16_t buffer[160];
        std::fill(buffer, buffer + 160, u'#');
        ASSERT_EQ(c.e->vtbl->getParamStringByValue(c.e, kDriveId, v, buffer), kResultOk);
        const std::u16string shown(buffer);
        EXPECT_LT(shown.size(), 128u);
        for (int i = 128; i < 160; ++i) ASSERT_EQ(buffer[i], u'#') << "written past String128";
    }
}

TEST(Vst3Controller, ReadsLeadingDigitsOfAText) {
    Controller c;
    EXPECT_EQ(c.value(kDriveId, u"50.75"), 0.5);
    EXPECT_EQ(c.value(kVolumeId, u"100%"), 0.5);
    EXPECT_EQ(c.value(kDriveId, u"150"), 1.5);
    EXPECT_EQ(c.value(kDriveId, u"-20"), -0.2);
    EXPECT_EQ(c.value(kDriveId, u"33.9"), 0.33);
    EXPECT_EQ(c.value(kDriveId, u"abc"), 0.0);
    EXPECT_EQ(c.value(kDriveId, u""), 0.0);
    EXPECT_EQ(c.value(kBypassId, u"1"), 1.0);

    std::u16string t = u"10";
    double v = 0.25;
    EXPECT_EQ(c.e->vtbl->getParamValueByString(c.e, 9u, t.data(), &v), kResultFalse);
    EXPECT_EQ(v, 0.25);
}

TEST(Vst3Controller, ConvertsAndStoresNormalizedValues) {
    Controller c;
    IEditController* e = c.e;
    EXPECT_EQ(e->vtbl->normalizedParamToPlain(e, kVolumeId, 1.5), 300.0) << "not clamped";
    EXPECT_EQ(e->vtbl->normalizedParamToPlain(e, kBypassId, 0.3), 0.3) << "not rounded";
    EXPECT_EQ(e->vtbl->plainParamToNormalized(e, kVolumeId, 50.0), 0.25);
    EXPECT_EQ(e->vtbl->plainParamToNormalized(e, kDriveId, 150.0), 1.5);
    EXPECT_EQ(e->vtbl->normalizedParamToPlain(e, 77u, 0.4), 0.4) << "unknown id: unchanged";
    EXPECT_EQ(e->vtbl->plainParamToNormalized(e, 77u, 40.0), 40.0);
    EXPECT_EQ(e->vtbl->getParamNormalized(e, 77u), 0.0);

    EXPECT_EQ(e->vtbl->setParamNormalized(e, kBypassId, 0.6), kResultOk);
    EXPECT_EQ(c.normalized(kBypassId), 1.0);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kBypassId, 0.4), kResultOk);
    EXPECT_EQ(c.normalized(kBypassId), 0.0);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kVolumeId, 1.5), kResultOk);
    EXPECT_EQ(c.normalized(kVolumeId), 1.0);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kDriveId, -0.5), kResultOk);
    EXPECT_EQ(c.normalized(kDriveId), 0.0);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kToneId, 0.42), kResultOk);
    EXPECT_EQ(c.normalized(kToneId), 0.42);

    // Refused: unknown ids and values that are not numbers; nothing changes.
    EXPECT_EQ(e->vtbl->setParamNormalized(e, 77u, 0.5), kResultFalse);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kToneId, std::nan("")), kInvalidArgument);
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kToneId, INFINITY), kInvalidArgument);
    EXPECT_EQ(c.normalized(kToneId), 0.42);
}

TEST(Vst3Controller, TakesTheProcessorsStateAndRefusesBadOnes) {
    ActiveProcessor p;
    ParamChanges changes;
    changes.add(kDriveId, {{0, 0.25}});
    changes.add(kVolumeId, {{0, 0.75}});
    changes.add(kBypassId, {{0, 1.0}});
    float in[8] = {}, out[8];
    p.process(in, out, 8, changes.changes());

    Controller c;
    IEditController* e = c.e;
    EXPECT_EQ(e->vtbl->setParamNormalized(e, kToneId, 0.9), kResultOk);
    MemoryStream bad(p.state());
    bad.bytes[0] ^= 0xFF; // no longer an archive
    MemoryStream foreign(p.state());
    const std::string id = "fernwood-emberpress";
    auto at = std::search(foreign.bytes.begin(), foreign.bytes.end(), id.begin(), id.end());
    ASSERT_NE(at, foreign.bytes.end());
    at[0] = 'F';
    for (MemoryStream* s : {&bad, &foreign}) {
        EXPECT_EQ(e->vtbl->setComponentState(e, s->stream()), kResultFalse);
        EXPECT_EQ(c.normalized(kToneId), 0.9) << "nothing changed";
        EXPECT_EQ(c.normalized(kDriveId), 0.5);
    }
    EXPECT_EQ(e->vtbl->setComponentState(e, nullptr), kResultFalse);

    MemoryStream good(p.state());
    good.pos = 100;
    ASSERT_EQ(e->vtbl->setComponentState(e, good.stream()), kResultOk);
    EXPECT_EQ(c.normalized(kDriveId), 0.25);
    EXPECT_EQ(c.normalized(kToneId), 0.5);
    EXPECT_EQ(c.normalized(kVolumeId), 0.75);
    EXPECT_EQ(c.normalized(kBypassId), 1.0);
    EXPECT_EQ(c.text(kVolumeId, c.normalized(kVolumeId)), u"150.00");
}

TEST(Vst3Controller, HoldsOneReferenceOnItsComponentHandler) {
    RecordingHandler a, b;
    {
        Controller c;
        IEditController* e = c.e;
        EXPECT_EQ(e->vtbl->setComponentHandler(e, a.handler()), kResultOk);
        EXPECT_EQ(a.refs, 2);
        EXPECT_EQ(e->vtbl->setComponentHandler(e, a.handler()), kResultOk);
        EXPECT_EQ(a.refs, 2) << "the same handler again adds nothing";
        EXPECT_EQ(e->vtbl->setComponentHandler(e, b.handler()), kResultOk);
        EXPECT_EQ(a.refs, 1);
        EXPECT_EQ(b.refs, 2);
        EXPECT_EQ(e->vtbl->setComponentHandler(e, nullptr), kResultOk);
        EXPECT_EQ(b.refs, 1);
        EXPECT_EQ(e->vtbl->setComponentHandler(e, a.handler()), kResultOk);
        EXPECT_EQ(e->vtbl->terminate(e), kResultOk);
        EXPECT_EQ(a.refs, 2) << "terminate keeps the handler";
    }
    EXPECT_EQ(a.refs, 1) << "the last release gives the reference back";
    EXPECT_EQ(b.refs, 1);
    EXPECT_TRUE(a.calls.empty()) << "host-side changes are not sent back to the host";
}
