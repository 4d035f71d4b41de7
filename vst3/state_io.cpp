// Saved state through the host's IBStream: both the processor and the controller
// read it, the processor writes it.
#include <cstdlib>

#include "state/plugin_state.h"
#include "vst3/emberpress_vst3.h"

using namespace vst3;

// IBStream counts in 32-bit chunks.
static constexpr int64_t kMaxChunk = 0x7FFFFFFF;

bool vst3_read_state(IBStream* stream, float values[kParamCount]) {
    if (!stream) return false;
    int64_t size = 0, at = 0;
    if (stream->vtbl->seek(stream, 0, kIBSeekEnd, &at) != kResultOk) return false;
    if (stream->vtbl->tell(stream, &size) != kResultOk) return false;
    if (stream->vtbl->seek(stream, 0, kIBSeekSet, &at) != kResultOk) return false;
    if (size <= 0 || uint64_t(size) > SIZE_MAX) return false; // empty data is no archive

    uint8_t* bytes = static_cast<uint8_t*>(std::malloc(size_t(size)));
    if (!bytes) return false;
    for (int64_t done = 0; done < size;) {
        const int32_t chunk = int32_t(size - done < kMaxChunk ? size - done : kMaxChunk);
        int32_t got = 0;
        if (stream->vtbl->read(stream, bytes + done, chunk, &got) != kResultOk || got != chunk) {
            std::free(bytes);
            return false;
        }
        done += chunk;
    }
    const bool ok = plugin_state_load(bytes, size_t(size), values) == 0;
    std::free(bytes);
    return ok;
}

bool vst3_write_bytes(IBStream* stream, const uint8_t* bytes, size_t len) {
    for (size_t done = 0; done < len;) {
        const int32_t chunk = int32_t(len - done < size_t(kMaxChunk) ? len - done : kMaxChunk);
        int32_t put = 0;
        const tresult r =
            stream->vtbl->write(stream, const_cast<uint8_t*>(bytes) + done, chunk, &put);
        if (r != kResultOk || put != chunk) return false;
        done += size_t(chunk);
    }
    return true;
}
