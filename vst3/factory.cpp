// The module's plug-in factory: one static object describing two classes, the audio
// processor (row 0) and its edit controller (row 1), and creating instances of them.
#include <cstring>

#include "vst3/emberpress_vst3.h"

using namespace vst3;

namespace {

struct ClassRow {
    const Uid* cid;
    const char* category;
    const char* name;
    uint32_t class_flags;
    const char* sub_categories;
};

constexpr ClassRow kClasses[2] = {
    {&kProcessorClassId, kVstAudioEffectClass, "Emberpress", kDistributable, "Fx|Distortion"},
    {&kControllerClassId, kVstComponentControllerClass, "Emberpress Controller", 0, ""},
};
constexpr char kVersion[] = "1.2.1.1";
constexpr char kSdkVersion2[] = "VST 3.8.0 | Quill";

tresult query_interface(IPluginFactory3* self, const char* iid, void** obj) {
    if (!obj) return kInvalidArgument;
    if (iid && (uid_equal(iid, kFUnknownIid) || uid_equal(iid, kIPluginFactoryIid) ||
                uid_equal(iid, kIPluginFactory2Iid) || uid_equal(iid, kIPluginFactory3Iid))) {
        *obj = self;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

// The factory is static: its reference count is fictitious.
uint32_t add_ref(IPluginFactory3*) {
    return 1;
}
uint32_t release(IPluginFactory3*) {
    return 1;
}

tresult get_factory_info(IPluginFactory3*, PFactoryInfo* info) {
    if (!info) return kInvalidArgument;
    vst3_put_text(info->vendor, "Fernwood");
    vst3_put_text(info->url, "https://fernwood.audio");
    vst3_put_text(info->email, "support@fernwood.audio");
    info->flags = kFactoryUnicode;
    return kResultOk;
}

int32_t count_classes(IPluginFactory3*) {
    return 2;
}

bool valid_row(int32_t index) {
    return index == 0 || index == 1;
}

tresult get_class_info(IPluginFactory3*, int32_t index, PClassInfo* info) {
    if (!valid_row(index) || !info) return kInvalidArgument;
    const ClassRow& row = kClasses[index];
    std::memcpy(info->cid, row.cid->bytes, 16);
    info->cardinality = kManyInstances;
    vst3_put_text(info->category, row.category);
    vst3_put_text(info->name, row.name);
    return kResultOk;
}

// PClassInfo2 and PClassInfoW carry the same fields, 8-bit or UTF-16.
template <class Info>
tresult fill_class_info(int32_t index, Info* info, const char* sdk_version) {
    if (!valid_row(index) || !info) return kInvalidArgument;
    const ClassRow& row = kClasses[index];
    std::memcpy(info->cid, row.cid->bytes, 16);
    info->cardinality = kManyInstances;
    vst3_put_text(info->category, row.category);
    vst3_put_text(info->name, row.name);
    info->classFlags = row.class_flags;
    vst3_put_text(info->subCategories, row.sub_categories);
    vst3_put_text(info->vendor, "");
    vst3_put_text(info->version, kVersion);
    vst3_put_text(info->sdkVersion, sdk_version);
    return kResultOk;
}

tresult get_class_info2(IPluginFactory3*, int32_t index, PClassInfo2* info) {
    return fill_class_info(index, info, kSdkVersion2);
}

tresult get_class_info_unicode(IPluginFactory3*, int32_t index, PClassInfoW* info) {
    return fill_class_info(index, info, kVstVersionString);
}

bool is_any(const char* iid, const Uid& a, const Uid& b, const Uid& c) {
    return uid_equal(iid, a) || uid_equal(iid, b) || uid_equal(iid, c);
}

tresult create_instance(IPluginFactory3*, FIDString cid, FIDString iid, void** obj) {
    if (!cid || !iid || !obj) return kInvalidArgument;
    if (uid_equal(cid, kProcessorClassId)) {
        if (!is_any(iid, kFUnknownIid, kIPluginBaseIid, kIComponentIid)) return kNoInterface;
        IComponent* p = vst3_processor_new();
        if (!p) return kOutOfMemory;
        *obj = p;
        return kResultOk;
    }
    if (uid_equal(cid, kControllerClassId)) {
        if (!is_any(iid, kFUnknownIid, kIPluginBaseIid, kIEditControllerIid)) return kNoInterface;
        IEditController* c = vst3_controller_new();
        if (!c) return kOutOfMemory;
        *obj = c;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult set_host_context(IPluginFactory3*, FUnknown*) {
    return kNotImplemented;
}

constexpr IPluginFactory3Vtbl kFactoryVtbl = {
    {query_interface, add_ref, release},
    get_factory_info,
    count_classes,
    get_class_info,
    create_instance,
    get_class_info2,
    get_class_info_unicode,
    set_host_context,
};

IPluginFactory3 factory = {&kFactoryVtbl};

} // namespace

IPluginFactory3* vst3_factory() {
    return &factory;
}
