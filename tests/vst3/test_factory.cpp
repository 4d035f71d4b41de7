// The factory and the objects' interface tables, as a host scanning the module sees them.
#include <cstring>
#include <gtest/gtest.h>

#include "host.h"

namespace {

std::string hex(const char* bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < 16; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// Measured per platform: Windows lays IDs out as COM GUIDs, Linux as big-endian words.
const char* expected(const char* windows, const char* linux_) {
    return kComCompatible ? windows : linux_;
}

const char* const kProcessorCid =
    expected("C722AD660EC22C46B29447BBA4505C82", "66AD22C7C20E462CB29447BBA4505C82");
const char* const kControllerCid =
    expected("3B510103937A1949B64CA7F5703CCE54", "0301513B7A934919B64CA7F5703CCE54");

Uid cid_of(int row) {
    Uid u{};
    PClassInfo info{};
    test_factory()->vtbl->getClassInfo(test_factory(), row, &info);
    std::memcpy(u.bytes, info.cid, 16);
    return u;
}

} // namespace

TEST(Vst3Platform, ResultCodesAndIdBytesMatchThePlatform) {
    if (kComCompatible) {
        EXPECT_EQ(uint32_t(kNoInterface), 0x80004002u);
        EXPECT_EQ(uint32_t(kInvalidArgument), 0x80070057u);
        EXPECT_EQ(uint32_t(kNotImplemented), 0x80004001u);
        EXPECT_EQ(uint32_t(kOutOfMemory), 0x8007000Eu);
    } else {
        EXPECT_EQ(kNoInterface, -1);
        EXPECT_EQ(kInvalidArgument, 2);
        EXPECT_EQ(kNotImplemented, 3);
        EXPECT_EQ(kOutOfMemory, 6);
    }
    EXPECT_EQ(kResultOk, 0);
    EXPECT_EQ(kResultFalse, 1);
    EXPECT_EQ(hex(kIComponentIid.bytes),
              expected("31FF31E8D5F20143928EBBEE25697802", "E831FF31F2D54301928EBBEE25697802"));
    EXPECT_EQ(hex(kIPluginFactory2Iid.bytes),
              expected("50B607004BF20B4CA464EDB9F00B2ABB", "0007B650F24B4C0BA464EDB9F00B2ABB"));
    EXPECT_EQ(hex(kFUnknownIid.bytes), "0000000000000000C000000000000046");
    EXPECT_EQ(hex(cid_of(0).bytes), kProcessorCid);
    EXPECT_EQ(hex(cid_of(1).bytes), kControllerCid);
}

TEST(Vst3Factory, DescribesVendorAndTwoClasses) {
    IPluginFactory3* f = test_factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f, test_factory()) << "every call hands out the same factory";

    PFactoryInfo fi{};
    ASSERT_EQ(f->vtbl->getFactoryInfo(f, &fi), kResultOk);
    EXPECT_STREQ(fi.vendor, "Fernwood");
    EXPECT_STREQ(fi.url, "https://fernwood.audio");
    EXPECT_STREQ(fi.email, "support@fernwood.audio");
    EXPECT_EQ(fi.flags, 16);
    EXPECT_EQ(f->vtbl->countClasses(f), 2);

    PClassInfo c0{}, c1{};
    ASSERT_EQ(f->vtbl->getClassInfo(f, 0, &c0), kResultOk);
    ASSERT_EQ(f->vtbl->getClassInfo(f, 1, &c1), kResultOk);
    EXPECT_EQ(c0.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(c0.category, "Audio Module Class");
    EXPECT_STREQ(c0.name, "Emberpress");
    EXPECT_EQ(c1.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(c1.category, "Component Controller Class");
    EXPECT_STREQ(c1.name, "Emberpress Controller");

    PClassInfo2 a0{}, a1{};
    ASSERT_EQ(f->vtbl->getClassInfo2(f, 0, &a0), kResultOk);
    ASSERT_EQ(f->vtbl->getClassInfo2(f, 1, &a1), kResultOk);
    EXPECT_EQ(hex(a0.cid), kProcessorCid);
    EXPECT_STREQ(a0.name, "Emberpress");
    EXPECT_EQ(a0.classFlags, 1u);
    EXPECT_STREQ(a0.subCategories, "Fx|Distortion");
    EXPECT_STREQ(a0.vendor, "");
    EXPECT_STREQ(a0.version, "1.2.1.1");
    EXPECT_STREQ(a0.sdkVersion, "VST 3.8.0 | Quill");
    EXPECT_EQ(hex(a1.cid), kControllerCid);
    EXPECT_EQ(a1.classFlags, 0u);
    EXPECT_STREQ(a1.subCategories, "");
    EXPECT_STREQ(a1.sdkVersion, "VST 3.8.0 | Quill");

    PClassInfoW w0{}, w1{};
    ASSERT_EQ(f->vtbl->getClassInfoUnicode(f, 0, &w0), kResultOk);
    ASSERT_EQ(f->vtbl->getClassInfoUnicode(f, 1, &w1), kResultOk);
    EXPECT_EQ(hex(w0.cid), kProcessorCid);
    EXPECT_STREQ(w0.category, "Audio Module Class");
    EXPECT_EQ(u16(w0.name), u"Emberpress");
    EXPECT_EQ(w0.classFlags, 1u);
    EXPECT_STREQ(w0.subCategories, "Fx|Distortion");
    EXPECT_EQ(u16(w0.vendor), u"");
    EXPECT_EQ(u16(w0.version), u"1.2.1.1");
    EXPECT_EQ(u16(w0.sdkVersion), u"VST 3.8.0");
    EXPECT_EQ(u16(w1.name), u"Emberpress Controller");
    EXPECT_STREQ(w1.category, "Component Controller Class");
    EXPECT_EQ(u16(w1.sdkVersion), u"VST 3.8.0");
}

TEST(Vst3Factory, RefusesRowsOtherThanTheTwoAndLeavesInfoAlone) {
    IPluginFactory3* f = test_factory();
    for (int32_t row : {2, -1, 1000}) {
        PClassInfo c;
        PClassInfo2 c2;
        PClassInfoW cw;
        std::memset(&c, 0xAB, sizeof c);
        std::memset(&c2, 0xAB, sizeof c2);
        std::memset(&cw, 0xAB, sizeof cw);
        EXPECT_EQ(f->vtbl->getClassInfo(f, row, &c), kInvalidArgument);
        EXPECT_EQ(f->vtbl->getClassInfo2(f, row, &c2), kInvalidArgument);
        EXPECT_EQ(f->vtbl->getClassInfoUnicode(f, row, &cw), kInvalidArgument);
        const auto untouched = [](const void* p, size_t n) {
            for (size_t i = 0; i < n; ++i)
                if (static_cast<const unsigned char*>(p)[i] != 0xAB) return false;
            return true;
        };
        EXPECT_TRUE(untouched(&c, sizeof c));
        EXPECT_TRUE(untouched(&c2, sizeof c2));
        EXPECT_TRUE(untouched(&cw, sizeof cw));
    }
}

TEST(Vst3Factory, AnswersItsFourInterfacesWithoutCountingReferences) {
    IPluginFactory3* f = test_factory();
    for (const Uid* iid :
         {&kFUnknownIid, &kIPluginFactoryIid, &kIPluginFactory2Iid, &kIPluginFactory3Iid}) {
        void* obj = nullptr;
        EXPECT_EQ(f->vtbl->unknown.queryInterface(f, iid->bytes, &obj), kResultOk);
        EXPECT_EQ(obj, f);
    }
    void* obj = &obj;
    EXPECT_EQ(f->vtbl->unknown.queryInterface(f, kIComponentIid.bytes, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);
    EXPECT_EQ(add_ref(f), 1u);
    EXPECT_EQ(release(f), 1u);
    EXPECT_EQ(release(f), 1u);
    EXPECT_EQ(f->vtbl->countClasses(f), 2) << "the factory stays usable after releases";
    EXPECT_EQ(f->vtbl->setHostContext(f, nullptr), kNotImplemented);
}

TEST(Vst3Factory, CreateInstanceRefusesUnknownClassesAndInterfaces) {
    IPluginFactory3* f = test_factory();
    const Uid processor = cid_of(0), controller = cid_of(1);
    const Uid unknown = make_uid(0x12345678, 0, 0, 1);

    void* obj = &obj;
    EXPECT_EQ(f->vtbl->createInstance(f, unknown.bytes, kIComponentIid.bytes, &obj), kNoInterface);
    EXPECT_EQ(obj, nullptr);

    struct Refusal {
        const Uid* cid;
        const Uid* iid;
    };
    for (Refusal r :
         {Refusal{&processor, &kIAudioProcessorIid}, Refusal{&processor, &kIEditControllerIid},
          Refusal{&controller, &kIComponentIid}, Refusal{&controller, &kIMidiMappingIid},
          Refusal{&processor, &kIPluginFactoryIid}}) {
        void* untouched = &obj;
        EXPECT_EQ(f->vtbl->createInstance(f, r.cid->bytes, r.iid->bytes, &untouched), kNoInterface);
        EXPECT_EQ(untouched, &obj) << "*obj is left alone";
    }

    // Each class comes out through FUnknown, IPluginBase and its own interface.
    for (const Uid* cid : {&processor, &controller}) {
        const Uid& own = cid == &processor ? kIComponentIid : kIEditControllerIid;
        for (const Uid* iid : {&kFUnknownIid, &kIPluginBaseIid, &own}) {
            void* made = nullptr;
            ASSERT_EQ(f->vtbl->createInstance(f, cid->bytes, iid->bytes, &made), kResultOk);
            ASSERT_NE(made, nullptr);
            void* primary = nullptr;
            auto* unknown_obj = static_cast<FUnknown*>(made);
            ASSERT_EQ(unknown_obj->vtbl->queryInterface(unknown_obj, own.bytes, &primary),
                      kResultOk);
            EXPECT_EQ(primary, made) << "the first interface is handed out";
            EXPECT_EQ(unknown_obj->vtbl->release(unknown_obj), 1u);
            EXPECT_EQ(unknown_obj->vtbl->release(unknown_obj), 0u);
        }
    }
}

TEST(Vst3Objects, ProcessorAnswersExactlyItsInterfacesAndCountsToZero) {
    IComponent* c = new_processor();
    ASSERT_NE(c, nullptr);
    for (const Uid* iid : {&kFUnknownIid, &kIPluginBaseIid, &kIComponentIid}) {
        void* obj = nullptr;
        EXPECT_EQ(c->vtbl->unknown.queryInterface(c, iid->bytes, &obj), kResultOk);
        EXPECT_EQ(obj, c);
    }
    EXPECT_EQ(release(c), 3u) << "three hits added three references";

    auto* audio = query<IAudioProcessor>(c, kIAudioProcessorIid);
    auto* requirements = query<IProcessContextRequirements>(c, kIProcessContextRequirementsIid);
    auto* connection = query<IConnectionPoint>(c, kIConnectionPointIid);
    ASSERT_TRUE(audio && requirements && connection);
    EXPECT_NE(static_cast<void*>(audio), static_cast<void*>(c));
    // Secondary interfaces lead back to the same object and share its count.
    EXPECT_EQ(query<IComponent>(audio, kIComponentIid), c);
    EXPECT_EQ(query<IAudioProcessor>(connection, kIAudioProcessorIid), audio);
    EXPECT_EQ(add_ref(requirements), 9u) << "1 + 3 hits - 1 + 5 more";
    EXPECT_EQ(requirements->vtbl->getProcessContextRequirements(requirements), 0u);

    for (const Uid* iid : {&kIEditControllerIid, &kIMidiMappingIid, &kIPluginFactoryIid,
                           &kIBStreamIid, &kIComponentHandlerIid}) {
        void* obj = &obj;
        EXPECT_EQ(audio->vtbl->unknown.queryInterface(audio, iid->bytes, &obj), kNoInterface);
        EXPECT_EQ(obj, nullptr);
    }

    EXPECT_EQ(connection->vtbl->connect(connection, nullptr), kInvalidArgument);
    EXPECT_EQ(connection->vtbl->connect(connection, connection), kResultOk);
    EXPECT_EQ(connection->vtbl->disconnect(connection, connection), kResultOk);
    EXPECT_EQ(connection->vtbl->notify(connection, nullptr), kResultOk);

    // Counting down through every interface of the object.
    uint32_t expect = 9;
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(release(requirements), --expect);
        EXPECT_EQ(release(connection), --expect);
        EXPECT_EQ(release(audio), --expect);
    }
    EXPECT_EQ(expect, 0u);
}

TEST(Vst3Objects, ControllerAnswersExactlyItsInterfacesAndCountsToZero) {
    IEditController* e = new_controller();
    ASSERT_NE(e, nullptr);
    for (const Uid* iid : {&kFUnknownIid, &kIPluginBaseIid, &kIEditControllerIid}) {
        void* obj = nullptr;
        EXPECT_EQ(e->vtbl->unknown.queryInterface(e, iid->bytes, &obj), kResultOk);
        EXPECT_EQ(obj, e);
        release(e);
    }
    auto* midi = query<IMidiMapping>(e, kIMidiMappingIid);
    auto* connection = query<IConnectionPoint>(e, kIConnectionPointIid);
    ASSERT_TRUE(midi && connection);
    EXPECT_EQ(query<IEditController>(midi, kIEditControllerIid), e);
    for (const Uid* iid : {&kIComponentIid, &kIAudioProcessorIid, &kIPlugViewIid}) {
        void* obj = &obj;
        EXPECT_EQ(connection->vtbl->unknown.queryInterface(connection, iid->bytes, &obj),
                  kNoInterface);
        EXPECT_EQ(obj, nullptr);
    }
    ParamID id = 7;
    EXPECT_EQ(midi->vtbl->getMidiControllerAssignment(midi, 0, 0, 7, &id), kInvalidArgument);
    EXPECT_EQ(connection->vtbl->connect(connection, nullptr), kInvalidArgument);
    EXPECT_EQ(connection->vtbl->connect(connection, connection), kResultOk);
    EXPECT_EQ(release(e), 3u);
    EXPECT_EQ(release(midi), 2u);
    EXPECT_EQ(release(connection), 1u);
    EXPECT_EQ(release(e), 0u);
}
