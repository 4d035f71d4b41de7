#include "lv2_host.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/denormals.h"
#include "engine/engine.h"
#include "loader.h"
#include "state/plugin_state.h"

// --- UridMap ---------------------------------------------------------------------

UridMap::UridMap() {
    map_.handle = this;
    map_.map = [](LV2_URID_Map_Handle h, const char* uri) {
        return static_cast<UridMap*>(h)->map(uri);
    };
    unmap_.handle = this;
    unmap_.unmap = [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
        return static_cast<UridMap*>(h)->unmap(urid);
    };
}

LV2_URID UridMap::map(const char* uri) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = ids_.find(uri);
    if (found != ids_.end()) return found->second;
    uris_.push_back(uri);
    const LV2_URID id = static_cast<LV2_URID>(uris_.size());
    ids_.emplace(uri, id);
    return id;
}

const char* UridMap::unmap(LV2_URID urid) {
    std::lock_guard<std::mutex> lock(mutex_);
    return urid >= 1 && urid <= uris_.size() ? uris_[urid - 1].c_str() : nullptr;
}

// --- LogCapture ------------------------------------------------------------------

LogCapture::LogCapture(UridMap& map) : map_(map) {
    log_.handle = this;
    log_.printf = printf_cb;
    log_.vprintf = vprintf_cb;
}

int LogCapture::printf_cb(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const int n = vprintf_cb(handle, type, fmt, ap);
    va_end(ap);
    return n;
}

int LogCapture::vprintf_cb(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list ap) {
    auto* self = static_cast<LogCapture*>(handle);
    char text[1024];
    const int n = std::vsnprintf(text, sizeof text, fmt, ap);
    const char* type_uri = self->map_.unmap(type);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->entries_.push_back({type_uri ? type_uri : "", text});
    return n;
}

std::vector<LogCapture::Entry> LogCapture::entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
}

// --- HostFeatures ----------------------------------------------------------------

HostFeatures::HostFeatures() : log(urids) {
    map_.data = urids.map_feature_data();
    unmap_.data = urids.unmap_feature_data();
    log_.data = log.feature_data();
    all_[0] = &map_;
    all_[1] = &unmap_;
    all_[2] = &log_;
    log_only_[0] = &log_;
}

const LV2_Feature* const* HostFeatures::features(Offer offer) {
    switch (offer) {
    case Offer::MapAndLog:
        return all_;
    case Offer::LogOnly:
        return log_only_;
    case Offer::EmptyList:
        return empty_;
    case Offer::NoList:
        return nullptr;
    }
    return nullptr;
}

// --- MemoryState -----------------------------------------------------------------

LV2_State_Status MemoryState::store(LV2_State_Handle handle, uint32_t key, const void* value,
                                    size_t size, uint32_t type, uint32_t flags) {
    auto* self = static_cast<MemoryState*>(handle);
    ++self->store_calls;
    if (self->store_result != LV2_STATE_SUCCESS) return self->store_result;
    Property& p = self->properties[key];
    const auto* bytes = static_cast<const uint8_t*>(value);
    p.bytes.assign(bytes, bytes + size);
    p.type = type;
    p.flags = flags;
    return LV2_STATE_SUCCESS;
}

const void* MemoryState::retrieve(LV2_State_Handle handle, uint32_t key, size_t* size,
                                  uint32_t* type, uint32_t* flags) {
    auto* self = static_cast<MemoryState*>(handle);
    ++self->retrieve_calls;
    auto found = self->properties.find(key);
    if (found == self->properties.end()) return nullptr;
    *size = found->second.bytes.size();
    *type = found->second.type;
    *flags = found->second.flags;
    static const uint8_t empty = 0; // a value of no bytes is still a value
    return found->second.bytes.empty() ? &empty : found->second.bytes.data();
}

// --- Plugin ----------------------------------------------------------------------

void default_controls(float controls[kParamCount]) {
    for (int i = 0; i < kParamCount; ++i) controls[i] = kParamDefaults[i];
    controls[PARAM_BYPASS] = 1.0f; // the enable port: 1 = processing
}

Plugin::Plugin(double rate, HostFeatures& host, Offer offer) : host_(host) {
    default_controls(controls);
    if (offer == Offer::NoList) {
        // No feature array at all; lilv would pass an empty one, so call the
        // module's instantiate directly.
        desc_ = loader_descriptor(0);
        if (desc_) {
            const std::string bundle = loader_bundle_dir();
            handle_ = desc_->instantiate(desc_, rate, bundle.c_str(), nullptr);
        }
        return;
    }
    LoadedInstance inst = loader_instantiate(rate, host.features(offer));
    desc_ = inst.descriptor;
    handle_ = inst.handle;
    owner_ = inst.owner;
}

Plugin::~Plugin() {
    if (owner_) {
        LoadedInstance inst{desc_, handle_, owner_};
        loader_free(inst);
    } else if (handle_) {
        desc_->cleanup(handle_);
    }
}

void Plugin::connect_all() {
    connect(PORT_INPUT, in.data());
    connect(PORT_OUTPUT, out.data());
    for (uint32_t i = 0; i < kParamCount; ++i) connect(control_port(i), &controls[i]);
}

std::vector<float> Plugin::process(const std::vector<float>& input, uint32_t block) {
    std::vector<float> result;
    result.reserve(input.size());
    for (size_t pos = 0; pos < input.size(); pos += block) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, input.size() - pos));
        in.assign(input.begin() + pos, input.begin() + pos + n);
        out.assign(n, 0.0f);
        connect(PORT_INPUT, in.data());
        connect(PORT_OUTPUT, out.data());
        run(n);
        result.insert(result.end(), out.begin(), out.end());
    }
    return result;
}

const LV2_State_Interface* Plugin::state() const {
    return static_cast<const LV2_State_Interface*>(desc_->extension_data(LV2_STATE__interface));
}

LV2_State_Status Plugin::save(MemoryState& store) {
    return state()->save(handle_, MemoryState::store, &store, LV2_STATE_IS_POD, nullptr);
}

LV2_State_Status Plugin::restore(MemoryState& store) {
    return state()->restore(handle_, MemoryState::retrieve, &store, 0, nullptr);
}

bool Plugin::engine_values(float out_values[kParamCount]) {
    MemoryState store;
    if (save(store) != LV2_STATE_SUCCESS) return false;
    auto found = store.properties.find(host_.urids.map(kStateKeyUri));
    if (found == store.properties.end()) return false;
    return plugin_state_load(found->second.bytes.data(), found->second.bytes.size(), out_values) ==
           0;
}

// --- Signals ---------------------------------------------------------------------

std::vector<float> test_signal(size_t frames, double rate) {
    std::vector<float> s(frames);
    uint32_t noise = 22222;
    double phase = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(frames);
        const double freq = 80.0 * std::pow(100.0, t); // 80 Hz to 8 kHz
        phase += 6.283185307179586 * freq / rate;
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 8) / 16777216.0 - 0.5) * 0.02;
        s[i] = static_cast<float>(0.5 * std::sin(phase) + n);
    }
    return s;
}

std::vector<float> engine_reference(const std::vector<float>& input, double rate,
                                    const float plain[kParamCount], uint32_t block) {
    auto engine = std::make_unique<Engine>();
    engine_init(*engine);
    engine_set_sample_rate(*engine, static_cast<float>(rate));
    for (int i = 0; i < kParamCount; ++i) engine_set_param(*engine, i, plain[i]);
    engine_reset(*engine);
    std::vector<float> out(input.size());
    DenormalGuard denormals;
    for (size_t pos = 0; pos < input.size(); pos += block) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, input.size() - pos));
        engine_process(*engine, input.data() + pos, out.data() + pos, n);
    }
    return out;
}

uint64_t hash_samples(const std::vector<float>& samples) {
    uint64_t h = 1469598103934665603ull;
    for (float s : samples) {
        uint32_t bits;
        std::memcpy(&bits, &s, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            h ^= (bits >> (8 * b)) & 0xffu;
            h *= 1099511628211ull;
        }
    }
    return h;
}

bool bit_equal(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}
