// The VST3 module of Emberpress: the factory (factory.cpp), the audio processor
// (processor.cpp), the edit controller (controller.cpp) and the module entry with its
// folder paths (module_paths.cpp, with module_win32.cpp / module_posix.cpp). The host reaches all
// of it through the one export, GetPluginFactory. The objects the host creates share
// their FUnknown side (com_object.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/params.h"
#include "vst3/vst3_abi.h"

// The processor's class ID as the four 32-bit words of its written form (preset files
// name the processor by these words in hexadecimal).
inline constexpr uint32_t kProcessorClassWords[4] = {0x66AD22C7, 0xC20E462C, 0xB29447BB,
                                                     0xA4505C82};
inline constexpr vst3::Uid kProcessorClassId =
    vst3::make_uid(kProcessorClassWords[0], kProcessorClassWords[1], kProcessorClassWords[2],
                   kProcessorClassWords[3]);
inline constexpr vst3::Uid kControllerClassId =
    vst3::make_uid(0x0301513B, 0x7A934919, 0xB64CA7F5, 0x703CCE54);

// Copies a zero-terminated ASCII text into a fixed VST3 text field, 8-bit or UTF-16,
// cut to fit, always terminated.
template <size_t N>
void vst3_put_text(char (&dst)[N], const char* src) {
    size_t i = 0;
    for (; src[i] && i + 1 < N; ++i) dst[i] = src[i];
    dst[i] = 0;
}
template <size_t N>
void vst3_put_text(vst3::char16 (&dst)[N], const char* src) {
    size_t i = 0;
    for (; src[i] && i + 1 < N; ++i) dst[i] = vst3::char16(src[i]);
    dst[i] = 0;
}

// The connection point of the processor and the controller: it accepts any peer and
// every message and acts on none, as the two exchange nothing directly. Object is
// the ComObject that offers it.
template <class Object>
inline constexpr vst3::IConnectionPointVtbl kIdleConnectionVtbl = {
    Object::template kUnknownSlots<vst3::IConnectionPoint>,
    [](vst3::IConnectionPoint*, vst3::IConnectionPoint* other) {
        return other ? vst3::kResultOk : vst3::kInvalidArgument;
    },
    [](vst3::IConnectionPoint*, vst3::IConnectionPoint*) { return vst3::kResultOk; },
    [](vst3::IConnectionPoint*, vst3::IMessage*) { return vst3::kResultOk; },
};

// The static factory that GetPluginFactory hands out.
vst3::IPluginFactory3* vst3_factory();

// New objects with one reference, uninitialised in the VST3 sense; null when out of memory.
vst3::IComponent* vst3_processor_new();
vst3::IEditController* vst3_controller_new();

// The module's folder (no trailing separator) and the bundle's Contents/Resources
// folder beside it, made at module load; null before that.
const char* vst3_module_folder();
const char* vst3_resources_folder();
// Makes both from the module's full file name (a heap string, which this takes over),
// with the platform's path separator; false, with nothing kept, when out of memory.
bool vst3_make_module_paths(char* file, char separator);
void vst3_free_module_paths();

// Saved state through a host stream (state_io.cpp). Reading takes the whole stream
// from its absolute start and checks it; the six values come back as stored, and
// nothing is written on failure.
bool vst3_read_state(vst3::IBStream* stream, float values[kParamCount]);
// Writes the bytes from the stream's position in chunks; false on a short write.
bool vst3_write_bytes(vst3::IBStream* stream, const uint8_t* bytes, size_t len);
