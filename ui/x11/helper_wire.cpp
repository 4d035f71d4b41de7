// Frames between the editor's in-host side and its helper program (see helper_wire.h).
#include "helper_wire.h"

#include "ui/utf8.h"

bool wire_receives(wire_side side, uint8_t kind) {
    switch (static_cast<wire_kind>(kind)) {
    case wire_kind::host_text:
    case wire_kind::size:
    case wire_kind::ping:
        return side == wire_side::helper;
    case wire_kind::ready:
    case wire_kind::page_text:
    case wire_kind::pong:
    case wire_kind::failed:
        return side == wire_side::host;
    }
    return false;
}

namespace {

void put_u32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

uint32_t get_u32(const char* bytes) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return value;
}

} // namespace

void wire_append(std::string& out, wire_kind kind, std::string_view payload) {
    out.push_back(static_cast<char>(kind));
    put_u32(out, static_cast<uint32_t>(payload.size()));
    out.append(payload);
}

void wire_append_u32(std::string& out, wire_kind kind, uint32_t value) {
    out.push_back(static_cast<char>(kind));
    put_u32(out, 4);
    put_u32(out, value);
}

void wire_append_u32_pair(std::string& out, wire_kind kind, uint32_t first, uint32_t second) {
    out.push_back(static_cast<char>(kind));
    put_u32(out, 8);
    put_u32(out, first);
    put_u32(out, second);
}

bool wire_read_u32(std::string_view payload, uint32_t& value) {
    if (payload.size() != 4) return false;
    value = get_u32(payload.data());
    return true;
}

bool wire_read_u32_pair(std::string_view payload, uint32_t& first, uint32_t& second) {
    if (payload.size() != 8) return false;
    first = get_u32(payload.data());
    second = get_u32(payload.data() + 4);
    return true;
}

bool wire_text_ok(std::string_view text) {
    return text.size() <= kWireMaxPayload && is_utf8_text(text);
}

wire_reader::result wire_reader::next(wire_kind& kind, std::string& payload) {
    if (broken_) return result::broken;
    size_t available = buffer_.size() - start_;
    if (available < kWireHeaderSize) return result::need_more;
    const char* header = buffer_.data() + start_;
    uint32_t length = get_u32(header + 1);
    if (!wire_receives(receiver_, static_cast<uint8_t>(header[0])) || length > kWireMaxPayload) {
        broken_ = true;
        buffer_.clear();
        start_ = 0;
        return result::broken;
    }
    if (available - kWireHeaderSize < length) return result::need_more;
    kind = static_cast<wire_kind>(header[0]);
    payload.assign(header + kWireHeaderSize, length);
    start_ += kWireHeaderSize + length;
    // Drop what was read once it is most of the buffer, so the buffer stays small.
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ > buffer_.size() / 2) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    return result::frame;
}
