// A small LV2 host for the tests: URID map, a log that records what the plug-in
// says, an in-memory state store, and one plug-in instance with its buffers.
//
// Instances come from loader.h: through lilv natively, through LoadLibraryW in the
// Windows build. Everything else here is the same on both.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include "engine/params.h"

constexpr const char* kPluginUri = "https://fernwood.audio/plugins/emberpress";
constexpr const char* kStateKeyUri = "https://fernwood.audio/plugins/emberpress#state_data";

constexpr uint32_t PORT_INPUT = 0;
constexpr uint32_t PORT_OUTPUT = 1;
constexpr uint32_t PORT_COUNT = 8;
// Parameter i (the enable port for bypass) sits on port i + 2.
constexpr uint32_t control_port(int param) {
    return 2u + static_cast<uint32_t>(param);
}

// URID map and unmap; safe to call from several threads.
class UridMap {
  public:
    UridMap();
    LV2_URID map(const char* uri);
    const char* unmap(LV2_URID urid);
    LV2_URID_Map* map_feature_data() { return &map_; }
    LV2_URID_Unmap* unmap_feature_data() { return &unmap_; }

  private:
    std::mutex mutex_;
    std::map<std::string, LV2_URID> ids_;
    std::vector<std::string> uris_; // urid - 1 -> uri
    LV2_URID_Map map_;
    LV2_URID_Unmap unmap_;
};

// An LV2 log that keeps every message with its type's URI.
class LogCapture {
  public:
    struct Entry {
        std::string type;
        std::string text;
    };
    explicit LogCapture(UridMap& map);
    LV2_Log_Log* feature_data() { return &log_; }
    std::vector<Entry> entries();
    void clear();

  private:
    static int printf_cb(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...);
    static int vprintf_cb(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list ap);
    UridMap& map_;
    std::mutex mutex_;
    std::vector<Entry> entries_;
    LV2_Log_Log log_;
};

// The features a test offers the plug-in.
enum class Offer { MapAndLog, LogOnly, EmptyList, NoList };

class HostFeatures {
  public:
    HostFeatures();
    // The array for instantiate; null for Offer::NoList.
    const LV2_Feature* const* features(Offer offer);
    UridMap urids;
    LogCapture log;

  private:
    LV2_Feature map_{LV2_URID__map, nullptr};
    LV2_Feature unmap_{LV2_URID__unmap, nullptr};
    LV2_Feature log_{LV2_LOG__log, nullptr};
    const LV2_Feature* all_[4] = {};
    const LV2_Feature* log_only_[2] = {};
    const LV2_Feature* empty_[1] = {};
};

// State properties kept in memory, as a host keeps them between save and restore.
class MemoryState {
  public:
    struct Property {
        std::vector<uint8_t> bytes;
        uint32_t type = 0;
        uint32_t flags = 0;
    };
    static LV2_State_Status store(LV2_State_Handle handle, uint32_t key, const void* value,
                                  size_t size, uint32_t type, uint32_t flags);
    static const void* retrieve(LV2_State_Handle handle, uint32_t key, size_t* size, uint32_t* type,
                                uint32_t* flags);
    std::map<uint32_t, Property> properties;
    int store_calls = 0;
    int retrieve_calls = 0;
    LV2_State_Status store_result = LV2_STATE_SUCCESS; // what store answers
};

// One instance created through the loader, with its own audio and control buffers.
class Plugin {
  public:
    // ok() is false when the loader or instantiate failed.
    Plugin(double rate, HostFeatures& host, Offer offer = Offer::MapAndLog);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool ok() const { return handle_ != nullptr; }
    const LV2_Descriptor* descriptor() const { return desc_; }
    LV2_Handle handle() const { return handle_; }

    // Connects both audio ports to `in`/`out` and every control port to `controls`.
    void connect_all();
    void connect(uint32_t port, void* data) { desc_->connect_port(handle_, port, data); }
    void activate() { desc_->activate(handle_); }
    void run(uint32_t n) { desc_->run(handle_, n); }

    // Runs `input` through in blocks of `block` frames and returns the output.
    std::vector<float> process(const std::vector<float>& input, uint32_t block = 256);

    const LV2_State_Interface* state() const;
    LV2_State_Status save(MemoryState& store);
    LV2_State_Status restore(MemoryState& store);

    // The six values the engine last received, read back through a save.
    bool engine_values(float out[kParamCount]);

    std::vector<float> in, out;
    float controls[kParamCount]; // drive, tone, heat, mix, volume, enabled

  private:
    HostFeatures& host_;
    const LV2_Descriptor* desc_ = nullptr;
    LV2_Handle handle_ = nullptr;
    void* owner_ = nullptr;
};

// Control port values for the defaults: the parameter defaults, enable 1.
void default_controls(float controls[kParamCount]);

// A deterministic test signal: a rising sine sweep under a little noise, at
// about -6 dBFS, long enough to drive the clipping stage both ways.
std::vector<float> test_signal(size_t frames, double rate);

// The engine's own output for `input` with the given plain values, driven as the
// plug-in drives it: init, sample rate, the values, reset, blocks of `block`.
std::vector<float> engine_reference(const std::vector<float>& input, double rate,
                                    const float plain[kParamCount], uint32_t block = 256);

// 64-bit FNV-1a over the samples' bit patterns.
uint64_t hash_samples(const std::vector<float>& samples);

bool bit_equal(const std::vector<float>& a, const std::vector<float>& b);
