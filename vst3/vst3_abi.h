// The VST3 binary interfaces this module implements and calls, declared by the project.
//
// An interface is a plain structure whose first member points at a table of function
// pointers in the interface's slot order; the object pointer is every function's first
// argument. Reference parameters of the interfaces are passed as pointers, 16-byte
// identifiers as pointers to their bytes. Structure layouts are natural C layout on
// x86-64 (the same on Linux and Windows), checked below.
//
// Two things differ between platforms and are derived once from EMBER_VST3_COM_ORDER
// (set by the build): the result-code values and the memory order of the 16-byte IDs.
// Windows uses the COM forms; Linux uses the plain values and big-endian words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vst3 {

inline constexpr bool kComCompatible = EMBER_VST3_COM_ORDER;

// --- Basic types -------------------------------------------------------------------

using tresult = int32_t;
using TBool = uint8_t;
using char8 = char;
using char16 = char16_t;
using String128 = char16[128];
using FIDString = const char8*;
using ParamID = uint32_t;
using ParamValue = double;
using SampleRate = double;
using Sample32 = float;
using Sample64 = double;
using SpeakerArrangement = uint64_t;
using MediaType = int32_t;
using BusDirection = int32_t;
using BusType = int32_t;
using IoMode = int32_t;
using UnitID = int32_t;
using CtrlNumber = int16_t;
using ScaleFactor = float;
using FileDescriptor = int;     // Linux run loop
using TimerInterval = uint64_t; // milliseconds

// --- Result codes ------------------------------------------------------------------

inline constexpr tresult kResultOk = 0;
inline constexpr tresult kResultTrue = 0;
inline constexpr tresult kResultFalse = 1;
inline constexpr tresult kNoInterface = kComCompatible ? tresult(0x80004002u) : -1;
inline constexpr tresult kInvalidArgument = kComCompatible ? tresult(0x80070057u) : 2;
inline constexpr tresult kNotImplemented = kComCompatible ? tresult(0x80004001u) : 3;
inline constexpr tresult kInternalError = kComCompatible ? tresult(0x80004005u) : 4;
inline constexpr tresult kNotInitialized = kComCompatible ? tresult(0x8000FFFFu) : 5;
inline constexpr tresult kOutOfMemory = kComCompatible ? tresult(0x8007000Eu) : 6;

// --- 16-byte identifiers -----------------------------------------------------------

struct Uid {
    char bytes[16];
};

// An ID from its four 32-bit words as written in the interface definitions. COM order:
// word 1 little-endian, word 2 as two little-endian halves (high half first), words 3
// and 4 big-endian. Plain order: all four words big-endian.
constexpr Uid make_uid(uint32_t l1, uint32_t l2, uint32_t l3, uint32_t l4) {
    Uid u{};
    auto put_be = [&u](int at, uint32_t w) {
        for (int i = 0; i < 4; ++i) u.bytes[at + i] = char((w >> (24 - 8 * i)) & 0xFF);
    };
    if (kComCompatible) {
        for (int i = 0; i < 4; ++i) u.bytes[i] = char((l1 >> (8 * i)) & 0xFF);
        u.bytes[4] = char((l2 >> 16) & 0xFF);
        u.bytes[5] = char((l2 >> 24) & 0xFF);
        u.bytes[6] = char(l2 & 0xFF);
        u.bytes[7] = char((l2 >> 8) & 0xFF);
    } else {
        put_be(0, l1);
        put_be(4, l2);
    }
    put_be(8, l3);
    put_be(12, l4);
    return u;
}

inline bool uid_equal(const char* a, const Uid& b) {
    for (int i = 0; i < 16; ++i)
        if (a[i] != b.bytes[i]) return false;
    return true;
}

inline constexpr Uid kFUnknownIid = make_uid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr Uid kIPluginBaseIid = make_uid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
inline constexpr Uid kIPluginFactoryIid = make_uid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr Uid kIPluginFactory2Iid = make_uid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr Uid kIPluginFactory3Iid = make_uid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
inline constexpr Uid kIComponentIid = make_uid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
inline constexpr Uid kIAudioProcessorIid = make_uid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
inline constexpr Uid kIProcessContextRequirementsIid =
    make_uid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
inline constexpr Uid kIConnectionPointIid =
    make_uid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
inline constexpr Uid kIEditControllerIid = make_uid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr Uid kIMidiMappingIid = make_uid(0xDF0FF9F7, 0x49B74669, 0xB63AB732, 0x7ADBF5E5);
inline constexpr Uid kIPlugViewIid = make_uid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
inline constexpr Uid kIPlugFrameIid = make_uid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
inline constexpr Uid kIComponentHandlerIid =
    make_uid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
inline constexpr Uid kIBStreamIid = make_uid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
inline constexpr Uid kIParameterChangesIid =
    make_uid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
inline constexpr Uid kIParamValueQueueIid =
    make_uid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr Uid kIPlugViewContentScaleSupportIid =
    make_uid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
// The host's run loop on Linux and the view's handlers in it.
inline constexpr Uid kIRunLoopIid = make_uid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
inline constexpr Uid kIEventHandlerIid = make_uid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
inline constexpr Uid kITimerHandlerIid = make_uid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);

// --- Constants ---------------------------------------------------------------------

inline constexpr int32_t kManyInstances = 0x7FFFFFFF;
inline constexpr int32_t kFactoryUnicode = 1 << 4;
inline constexpr uint32_t kDistributable = 1 << 0;
inline constexpr char kVstAudioEffectClass[] = "Audio Module Class";
inline constexpr char kVstComponentControllerClass[] = "Component Controller Class";
inline constexpr char kVstVersionString[] = "VST 3.8.0";
inline constexpr char kPlatformTypeHWND[] = "HWND";                         // a Win32 window handle
inline constexpr char kPlatformTypeX11EmbedWindowID[] = "X11EmbedWindowID"; // an X11 Window id

inline constexpr MediaType kAudio = 0;
inline constexpr MediaType kEvent = 1;
inline constexpr BusDirection kInput = 0;
inline constexpr BusDirection kOutput = 1;
inline constexpr BusType kMain = 0;
inline constexpr uint32_t kDefaultActive = 1 << 0;
inline constexpr int32_t kSample32 = 0;
inline constexpr int32_t kSample64 = 1;
inline constexpr SpeakerArrangement kSpeakerM = 1 << 19;
inline constexpr SpeakerArrangement kStereo = 0x3;
inline constexpr int32_t kIBSeekSet = 0;
inline constexpr int32_t kIBSeekCur = 1;
inline constexpr int32_t kIBSeekEnd = 2;
inline constexpr int32_t kCanAutomate = 1 << 0;
inline constexpr int32_t kIsBypass = 1 << 16;
inline constexpr UnitID kRootUnitId = 0;

// --- Structures --------------------------------------------------------------------

struct PFactoryInfo {
    char8 vendor[64];
    char8 url[256];
    char8 email[128];
    int32_t flags;
};

struct PClassInfo {
    char cid[16];
    int32_t cardinality;
    char8 category[32];
    char8 name[64];
};

struct PClassInfo2 {
    char cid[16];
    int32_t cardinality;
    char8 category[32];
    char8 name[64];
    uint32_t classFlags;
    char8 subCategories[128];
    char8 vendor[64];
    char8 version[64];
    char8 sdkVersion[64];
};

struct PClassInfoW {
    char cid[16];
    int32_t cardinality;
    char8 category[32];
    char16 name[64];
    uint32_t classFlags;
    char8 subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

struct BusInfo {
    MediaType mediaType;
    BusDirection direction;
    int32_t channelCount;
    String128 name;
    BusType busType;
    uint32_t flags;
};

struct RoutingInfo {
    MediaType mediaType;
    int32_t busIndex;
    int32_t channel;
};

struct ParameterInfo {
    ParamID id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32_t stepCount;
    ParamValue defaultNormalizedValue;
    UnitID unitId;
    int32_t flags;
};

struct ProcessSetup {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t maxSamplesPerBlock;
    SampleRate sampleRate;
};

struct AudioBusBuffers {
    int32_t numChannels;
    uint64_t silenceFlags;
    union {
        Sample32** channelBuffers32;
        Sample64** channelBuffers64;
    };
};

struct IParameterChanges;
struct IEventList;
struct ProcessContext;

struct ProcessData {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    IParameterChanges* inputParameterChanges;
    IParameterChanges* outputParameterChanges;
    IEventList* inputEvents;
    IEventList* outputEvents;
    ProcessContext* processContext;
};

struct ViewRect {
    int32_t left, top, right, bottom;
};

static_assert(sizeof(PFactoryInfo) == 452 && offsetof(PFactoryInfo, url) == 64 &&
              offsetof(PFactoryInfo, email) == 320 && offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116 && offsetof(PClassInfo, cardinality) == 16 &&
              offsetof(PClassInfo, category) == 20 && offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440 && offsetof(PClassInfo2, classFlags) == 116 &&
              offsetof(PClassInfo2, subCategories) == 120 && offsetof(PClassInfo2, vendor) == 248 &&
              offsetof(PClassInfo2, version) == 312 && offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(PClassInfoW) == 696 && offsetof(PClassInfoW, name) == 52 &&
              offsetof(PClassInfoW, classFlags) == 180 &&
              offsetof(PClassInfoW, subCategories) == 184 && offsetof(PClassInfoW, vendor) == 312 &&
              offsetof(PClassInfoW, version) == 440 && offsetof(PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(BusInfo) == 276 && offsetof(BusInfo, name) == 12 &&
              offsetof(BusInfo, busType) == 268 && offsetof(BusInfo, flags) == 272);
static_assert(sizeof(RoutingInfo) == 12);
static_assert(sizeof(ParameterInfo) == 792 && alignof(ParameterInfo) == 8 &&
              offsetof(ParameterInfo, title) == 4 && offsetof(ParameterInfo, shortTitle) == 260 &&
              offsetof(ParameterInfo, units) == 516 && offsetof(ParameterInfo, stepCount) == 772 &&
              offsetof(ParameterInfo, defaultNormalizedValue) == 776 &&
              offsetof(ParameterInfo, unitId) == 784 && offsetof(ParameterInfo, flags) == 788);
static_assert(sizeof(ProcessSetup) == 24 && offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24 && offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(ProcessData) == 80 && offsetof(ProcessData, numOutputs) == 16 &&
              offsetof(ProcessData, inputs) == 24 && offsetof(ProcessData, outputs) == 32 &&
              offsetof(ProcessData, inputParameterChanges) == 40 &&
              offsetof(ProcessData, outputParameterChanges) == 48 &&
              offsetof(ProcessData, inputEvents) == 56 &&
              offsetof(ProcessData, outputEvents) == 64 &&
              offsetof(ProcessData, processContext) == 72);
static_assert(sizeof(ViewRect) == 16);

// --- Interfaces --------------------------------------------------------------------
// Each table starts with the three FUnknown slots, typed for its own interface. The
// interfaces the module implements also list the IDs they answer to (kIids): their
// own, then those of the interfaces they extend, FUnknown aside.

template <class Self>
struct UnknownSlots {
    tresult (*queryInterface)(Self* self, const char* iid, void** obj);
    uint32_t (*addRef)(Self* self);
    uint32_t (*release)(Self* self);
};

struct FUnknown {
    const UnknownSlots<FUnknown>* vtbl;
};

struct IBStream;
struct IParamValueQueue;
struct IComponentHandler;
struct IPlugView;
struct IMessage;

struct IPluginFactory3;
struct IPluginFactory3Vtbl {
    UnknownSlots<IPluginFactory3> unknown;
    tresult (*getFactoryInfo)(IPluginFactory3* self, PFactoryInfo* info);
    int32_t (*countClasses)(IPluginFactory3* self);
    tresult (*getClassInfo)(IPluginFactory3* self, int32_t index, PClassInfo* info);
    tresult (*createInstance)(IPluginFactory3* self, FIDString cid, FIDString iid, void** obj);
    tresult (*getClassInfo2)(IPluginFactory3* self, int32_t index, PClassInfo2* info);
    tresult (*getClassInfoUnicode)(IPluginFactory3* self, int32_t index, PClassInfoW* info);
    tresult (*setHostContext)(IPluginFactory3* self, FUnknown* context);
};
struct IPluginFactory3 {
    const IPluginFactory3Vtbl* vtbl;
};

struct IComponent;
struct IComponentVtbl {
    UnknownSlots<IComponent> unknown;
    tresult (*initialize)(IComponent* self, FUnknown* context);
    tresult (*terminate)(IComponent* self);
    tresult (*getControllerClassId)(IComponent* self, char* classId);
    tresult (*setIoMode)(IComponent* self, IoMode mode);
    int32_t (*getBusCount)(IComponent* self, MediaType type, BusDirection dir);
    tresult (*getBusInfo)(IComponent* self, MediaType type, BusDirection dir, int32_t index,
                          BusInfo* bus);
    tresult (*getRoutingInfo)(IComponent* self, RoutingInfo* inInfo, RoutingInfo* outInfo);
    tresult (*activateBus)(IComponent* self, MediaType type, BusDirection dir, int32_t index,
                           TBool state);
    tresult (*setActive)(IComponent* self, TBool state);
    tresult (*setState)(IComponent* self, IBStream* state);
    tresult (*getState)(IComponent* self, IBStream* state);
};
struct IComponent {
    const IComponentVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIComponentIid, &kIPluginBaseIid};
};

struct IAudioProcessor;
struct IAudioProcessorVtbl {
    UnknownSlots<IAudioProcessor> unknown;
    tresult (*setBusArrangements)(IAudioProcessor* self, SpeakerArrangement* inputs, int32_t numIns,
                                  SpeakerArrangement* outputs, int32_t numOuts);
    tresult (*getBusArrangement)(IAudioProcessor* self, BusDirection dir, int32_t index,
                                 SpeakerArrangement* arr);
    tresult (*canProcessSampleSize)(IAudioProcessor* self, int32_t symbolicSampleSize);
    uint32_t (*getLatencySamples)(IAudioProcessor* self);
    tresult (*setupProcessing)(IAudioProcessor* self, ProcessSetup* setup);
    tresult (*setProcessing)(IAudioProcessor* self, TBool state);
    tresult (*process)(IAudioProcessor* self, ProcessData* data);
    uint32_t (*getTailSamples)(IAudioProcessor* self);
};
struct IAudioProcessor {
    const IAudioProcessorVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIAudioProcessorIid};
};

struct IProcessContextRequirements;
struct IProcessContextRequirementsVtbl {
    UnknownSlots<IProcessContextRequirements> unknown;
    uint32_t (*getProcessContextRequirements)(IProcessContextRequirements* self);
};
struct IProcessContextRequirements {
    const IProcessContextRequirementsVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIProcessContextRequirementsIid};
};

struct IConnectionPoint;
struct IConnectionPointVtbl {
    UnknownSlots<IConnectionPoint> unknown;
    tresult (*connect)(IConnectionPoint* self, IConnectionPoint* other);
    tresult (*disconnect)(IConnectionPoint* self, IConnectionPoint* other);
    tresult (*notify)(IConnectionPoint* self, IMessage* message);
};
struct IConnectionPoint {
    const IConnectionPointVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIConnectionPointIid};
};

struct IEditController;
struct IEditControllerVtbl {
    UnknownSlots<IEditController> unknown;
    tresult (*initialize)(IEditController* self, FUnknown* context);
    tresult (*terminate)(IEditController* self);
    tresult (*setComponentState)(IEditController* self, IBStream* state);
    tresult (*setState)(IEditController* self, IBStream* state);
    tresult (*getState)(IEditController* self, IBStream* state);
    int32_t (*getParameterCount)(IEditController* self);
    tresult (*getParameterInfo)(IEditController* self, int32_t paramIndex, ParameterInfo* info);
    tresult (*getParamStringByValue)(IEditController* self, ParamID id, ParamValue valueNormalized,
                                     char16* string);
    tresult (*getParamValueByString)(IEditController* self, ParamID id, char16* string,
                                     ParamValue* valueNormalized);
    ParamValue (*normalizedParamToPlain)(IEditController* self, ParamID id,
                                         ParamValue valueNormalized);
    ParamValue (*plainParamToNormalized)(IEditController* self, ParamID id, ParamValue plainValue);
    ParamValue (*getParamNormalized)(IEditController* self, ParamID id);
    tresult (*setParamNormalized)(IEditController* self, ParamID id, ParamValue value);
    tresult (*setComponentHandler)(IEditController* self, IComponentHandler* handler);
    IPlugView* (*createView)(IEditController* self, FIDString name);
};
struct IEditController {
    const IEditControllerVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIEditControllerIid, &kIPluginBaseIid};
};

struct IMidiMapping;
struct IMidiMappingVtbl {
    UnknownSlots<IMidiMapping> unknown;
    tresult (*getMidiControllerAssignment)(IMidiMapping* self, int32_t busIndex, int16_t channel,
                                           CtrlNumber midiControllerNumber, ParamID* id);
};
struct IMidiMapping {
    const IMidiMappingVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIMidiMappingIid};
};

struct IComponentHandlerVtbl {
    UnknownSlots<IComponentHandler> unknown;
    tresult (*beginEdit)(IComponentHandler* self, ParamID id);
    tresult (*performEdit)(IComponentHandler* self, ParamID id, ParamValue valueNormalized);
    tresult (*endEdit)(IComponentHandler* self, ParamID id);
    tresult (*restartComponent)(IComponentHandler* self, int32_t flags);
};
struct IComponentHandler {
    const IComponentHandlerVtbl* vtbl;
};

struct IBStreamVtbl {
    UnknownSlots<IBStream> unknown;
    tresult (*read)(IBStream* self, void* buffer, int32_t numBytes, int32_t* numBytesRead);
    tresult (*write)(IBStream* self, void* buffer, int32_t numBytes, int32_t* numBytesWritten);
    tresult (*seek)(IBStream* self, int64_t pos, int32_t mode, int64_t* result);
    tresult (*tell)(IBStream* self, int64_t* pos);
};
struct IBStream {
    const IBStreamVtbl* vtbl;
};

struct IParameterChangesVtbl {
    UnknownSlots<IParameterChanges> unknown;
    int32_t (*getParameterCount)(IParameterChanges* self);
    IParamValueQueue* (*getParameterData)(IParameterChanges* self, int32_t index);
    IParamValueQueue* (*addParameterData)(IParameterChanges* self, const ParamID* id,
                                          int32_t* index);
};
struct IParameterChanges {
    const IParameterChangesVtbl* vtbl;
};

struct IParamValueQueueVtbl {
    UnknownSlots<IParamValueQueue> unknown;
    ParamID (*getParameterId)(IParamValueQueue* self);
    int32_t (*getPointCount)(IParamValueQueue* self);
    tresult (*getPoint)(IParamValueQueue* self, int32_t index, int32_t* sampleOffset,
                        ParamValue* value);
    tresult (*addPoint)(IParamValueQueue* self, int32_t sampleOffset, ParamValue value,
                        int32_t* index);
};
struct IParamValueQueue {
    const IParamValueQueueVtbl* vtbl;
};

struct IPlugFrame;
struct IPlugViewVtbl {
    UnknownSlots<IPlugView> unknown;
    tresult (*isPlatformTypeSupported)(IPlugView* self, FIDString type);
    tresult (*attached)(IPlugView* self, void* parent, FIDString type);
    tresult (*removed)(IPlugView* self);
    tresult (*onWheel)(IPlugView* self, float distance);
    tresult (*onKeyDown)(IPlugView* self, char16 key, int16_t keyCode, int16_t modifiers);
    tresult (*onKeyUp)(IPlugView* self, char16 key, int16_t keyCode, int16_t modifiers);
    tresult (*getSize)(IPlugView* self, ViewRect* size);
    tresult (*onSize)(IPlugView* self, ViewRect* newSize);
    tresult (*onFocus)(IPlugView* self, TBool state);
    tresult (*setFrame)(IPlugView* self, IPlugFrame* frame);
    tresult (*canResize)(IPlugView* self);
    tresult (*checkSizeConstraint)(IPlugView* self, ViewRect* rect);
};
struct IPlugView {
    const IPlugViewVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIPlugViewIid};
};

struct IPlugFrameVtbl {
    UnknownSlots<IPlugFrame> unknown;
    tresult (*resizeView)(IPlugFrame* self, IPlugView* view, ViewRect* newSize);
};
struct IPlugFrame {
    const IPlugFrameVtbl* vtbl;
};

struct IPlugViewContentScaleSupport;
struct IPlugViewContentScaleSupportVtbl {
    UnknownSlots<IPlugViewContentScaleSupport> unknown;
    tresult (*setContentScaleFactor)(IPlugViewContentScaleSupport* self, ScaleFactor factor);
};
struct IPlugViewContentScaleSupport {
    const IPlugViewContentScaleSupportVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIPlugViewContentScaleSupportIid};
};

// Linux: the host lends its run loop to a view, which has none of its own. The host
// calls the handlers on its user-interface thread: onFDIsSet when the descriptor is
// readable, onTimer at the interval.
struct IEventHandler;
struct IEventHandlerVtbl {
    UnknownSlots<IEventHandler> unknown;
    void (*onFDIsSet)(IEventHandler* self, FileDescriptor fd);
};
struct IEventHandler {
    const IEventHandlerVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kIEventHandlerIid};
};

struct ITimerHandler;
struct ITimerHandlerVtbl {
    UnknownSlots<ITimerHandler> unknown;
    void (*onTimer)(ITimerHandler* self);
};
struct ITimerHandler {
    const ITimerHandlerVtbl* vtbl;
    static constexpr const Uid* kIids[] = {&kITimerHandlerIid};
};

struct IRunLoop;
struct IRunLoopVtbl {
    UnknownSlots<IRunLoop> unknown;
    tresult (*registerEventHandler)(IRunLoop* self, IEventHandler* handler, FileDescriptor fd);
    tresult (*unregisterEventHandler)(IRunLoop* self, IEventHandler* handler);
    tresult (*registerTimer)(IRunLoop* self, ITimerHandler* handler, TimerInterval milliseconds);
    tresult (*unregisterTimer)(IRunLoop* self, ITimerHandler* handler);
};
struct IRunLoop {
    const IRunLoopVtbl* vtbl;
};

// Slot counts, so a table that gains or loses a member fails to build.
static_assert(sizeof(IPluginFactory3Vtbl) == 10 * sizeof(void*));
static_assert(sizeof(IComponentVtbl) == 14 * sizeof(void*));
static_assert(sizeof(IAudioProcessorVtbl) == 11 * sizeof(void*));
static_assert(sizeof(IProcessContextRequirementsVtbl) == 4 * sizeof(void*));
static_assert(sizeof(IConnectionPointVtbl) == 6 * sizeof(void*));
static_assert(sizeof(IEditControllerVtbl) == 18 * sizeof(void*));
static_assert(sizeof(IMidiMappingVtbl) == 4 * sizeof(void*));
static_assert(sizeof(IComponentHandlerVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IBStreamVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IParameterChangesVtbl) == 6 * sizeof(void*));
static_assert(sizeof(IParamValueQueueVtbl) == 7 * sizeof(void*));
static_assert(sizeof(IPlugViewVtbl) == 15 * sizeof(void*));
static_assert(sizeof(IPlugFrameVtbl) == 4 * sizeof(void*));
static_assert(sizeof(IPlugViewContentScaleSupportVtbl) == 4 * sizeof(void*));
static_assert(sizeof(IEventHandlerVtbl) == 4 * sizeof(void*));
static_assert(sizeof(ITimerHandlerVtbl) == 4 * sizeof(void*));
static_assert(sizeof(IRunLoopVtbl) == 7 * sizeof(void*));
static_assert(sizeof(ScaleFactor) == 4 && sizeof(FileDescriptor) == 4 &&
              sizeof(TimerInterval) == 8);

} // namespace vst3
