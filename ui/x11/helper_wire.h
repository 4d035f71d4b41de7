// The conversation between the editor's in-host side (ui/x11/embed.h) and its helper
// program emberpress-editor, over one stream socket: a socket pair the host side makes,
// whose other end is the helper's descriptor 3.
//
// Every message is one frame: a kind byte, the payload's length as four bytes (least
// significant first), then the payload. Texts are UTF-8 without a terminator and
// without NUL; numbers are unsigned 32-bit, least significant byte first.
//
//   host -> helper                          helper -> host
//   'T' text for the page                   'R' ready: the plug's X11 window id (u32)
//   'Z' size: width, height in pixels       'M' text from the page
//   'P' ping: a number (u32)                'O' pong: the ping's number (u32)
//                                           'F' failed: one line saying what went wrong
//
// There is no scale message: the page draws itself to fill whatever size it is given,
// so the host's scale only changes the sizes the host side chooses.
//
// The helper sends 'R' once its plug is realised inside the host's window; the page
// loads after that, and host texts wait in the helper until it has. End of file in either direction
// ends the conversation: the helper exits, the host side reaps it. A frame of a kind the receiver
// does not take, or longer than kWireMaxPayload, breaks the conversation: the receiver stops
// reading and ends it.
//
// Portable C++ (no platform header), shared by both sides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class wire_kind : uint8_t {
    host_text = 'T',
    size = 'Z',
    ping = 'P',
    ready = 'R',
    page_text = 'M',
    pong = 'O',
    failed = 'F',
};

enum class wire_side : uint8_t { host, helper };

inline constexpr size_t kWireHeaderSize = 5;
inline constexpr uint32_t kWireMaxPayload = 1u << 20;
// The helper's end of the socket pair.
inline constexpr int kHelperSocketFd = 3;

// Exit statuses of the helper besides 0 (end of file: the host closed the editor). A
// helper that cannot even start (a library missing) ends with the loader's 127.
inline constexpr int kHelperExitUsage = 2;      // bad arguments or no socket on fd 3
inline constexpr int kHelperExitNoDisplay = 3;  // the X display cannot be opened
inline constexpr int kHelperExitNoParent = 4;   // the host's window or process is gone
inline constexpr int kHelperExitPage = 5;       // the page did not load
inline constexpr int kHelperExitWebProcess = 6; // the browser's page process ended
inline constexpr int kHelperExitBrokenWire = 7; // the host sent a frame it must not

// Whether `side` may receive frames of `kind`.
bool wire_receives(wire_side side, uint8_t kind);

// Appends one frame. Payloads longer than kWireMaxPayload are the caller's error.
void wire_append(std::string& out, wire_kind kind, std::string_view payload);
void wire_append_u32(std::string& out, wire_kind kind, uint32_t value);
void wire_append_u32_pair(std::string& out, wire_kind kind, uint32_t first, uint32_t second);

// The payload as exactly one or two numbers; false when its length is not that.
bool wire_read_u32(std::string_view payload, uint32_t& value);
bool wire_read_u32_pair(std::string_view payload, uint32_t& first, uint32_t& second);

// Whether a text may cross: valid UTF-8 (no overlong forms, no surrogates), no NUL,
// at most kWireMaxPayload bytes.
bool wire_text_ok(std::string_view text);

// Splits the incoming byte stream of one side into frames.
class wire_reader {
  public:
    enum class result { frame, need_more, broken };

    explicit wire_reader(wire_side receiver) : receiver_(receiver) {}

    void feed(const char* data, size_t size) { buffer_.append(data, size); }

    // The next whole frame into `kind` and `payload` (result::frame); need_more when
    // no whole frame is buffered; broken (and from then on) on a kind this side does
    // not take or a length over the limit.
    result next(wire_kind& kind, std::string& payload);

  private:
    wire_side receiver_;
    bool broken_ = false;
    std::string buffer_;
    size_t start_ = 0; // first unread byte of buffer_
};
