// The frames between the editor's in-host side and its helper: whole frames out of any
// split of the stream, and a reader that stops for good at anything it must not take.
#include <gtest/gtest.h>

#include "ui/x11/helper_wire.h"

namespace {

struct Frame {
    wire_kind kind;
    std::string payload;
};

// Feeds `bytes` in pieces of `step` and collects every frame.
std::vector<Frame> read_all(wire_side side, const std::string& bytes, size_t step,
                            wire_reader::result* last = nullptr) {
    wire_reader reader(side);
    std::vector<Frame> frames;
    wire_reader::result result = wire_reader::result::need_more;
    for (size_t at = 0; at < bytes.size(); at += step) {
        reader.feed(bytes.data() + at, std::min(step, bytes.size() - at));
        Frame f;
        while ((result = reader.next(f.kind, f.payload)) == wire_reader::result::frame)
            frames.push_back(f);
    }
    if (last) *last = result;
    return frames;
}

} // namespace

TEST(HelperWire, FramesSurviveAnySplit) {
    std::string stream;
    std::string big(70000, 'x');
    wire_append(stream, wire_kind::page_text, "b 0 42480000");
    wire_append(stream, wire_kind::page_text, "");
    wire_append_u32(stream, wire_kind::ready, 0x1e00003);
    wire_append(stream, wire_kind::page_text, big);
    wire_append_u32(stream, wire_kind::pong, 7);
    for (size_t step : {size_t(1), size_t(3), size_t(5), size_t(4096), stream.size()}) {
        auto frames = read_all(wire_side::host, stream, step);
        ASSERT_EQ(frames.size(), 5u) << "step " << step;
        EXPECT_EQ(frames[0].payload, "b 0 42480000");
        EXPECT_EQ(frames[1].payload, "");
        uint32_t number = 0;
        EXPECT_TRUE(wire_read_u32(frames[2].payload, number));
        EXPECT_EQ(number, 0x1e00003u);
        EXPECT_EQ(frames[3].payload, big);
        EXPECT_EQ(frames[4].kind, wire_kind::pong);
    }
    // Numbers are little-endian on the wire, whatever the machine.
    std::string size;
    wire_append_u32_pair(size, wire_kind::size, 800, 400);
    EXPECT_EQ(size, std::string("Z\x08\0\0\0\x20\x03\0\0\x90\x01\0\0", 13));
    uint32_t w, h;
    EXPECT_TRUE(wire_read_u32_pair(size.substr(kWireHeaderSize), w, h));
    EXPECT_EQ(w, 800u);
    EXPECT_EQ(h, 400u);
    EXPECT_FALSE(wire_read_u32_pair("1234567", w, h));
    EXPECT_FALSE(wire_read_u32("12345", w));
}

TEST(HelperWire, ReaderStopsAtWhatItMustNotTake) {
    std::string good;
    wire_append(good, wire_kind::host_text, "s 0 42480000");
    // A helper's kind sent to the helper, an unknown kind, a length over the limit.
    std::string wrong_way, unknown, too_long;
    wire_append(wrong_way, wire_kind::page_text, "g");
    unknown = std::string("X\1\0\0\0g", 6);
    too_long = std::string("T\1\0\x10\0", 5);
    for (const std::string* bad : {&wrong_way, &unknown, &too_long}) {
        wire_reader::result last;
        auto frames = read_all(wire_side::helper, good + *bad + good, 2, &last);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].payload, "s 0 42480000");
        EXPECT_EQ(last, wire_reader::result::broken);
    }
    // Exactly the limit is fine.
    std::string limit(kWireMaxPayload, 'a');
    std::string stream;
    wire_append(stream, wire_kind::host_text, limit);
    EXPECT_EQ(read_all(wire_side::helper, stream, 65536).size(), 1u);
}

TEST(HelperWire, OnlyCleanTextCrosses) {
    for (std::string_view ok :
         {"", "s 0 42480000", "m kestrelV1 init \xc3\xa9\xe2\x82\xac\xf0\x9f\x94\xa5",
          "\xef\xbf\xbf", "\xf4\x8f\xbf\xbf"})
        EXPECT_TRUE(wire_text_ok(ok)) << ok;
    using namespace std::string_view_literals;
    for (std::string_view bad :
         {"a\0b"sv, "\x80"sv, "\xc0\x80"sv, "\xc1\xbf"sv, "\xe0\x80\xaf"sv, "\xed\xa0\x80"sv,
          "\xf4\x90\x80\x80"sv, "\xf8\x88\x80\x80\x80"sv, "\xe2\x82"sv, "\xc3"sv, "\xff"sv})
        EXPECT_FALSE(wire_text_ok(bad)) << testing::PrintToString(bad);
    EXPECT_FALSE(wire_text_ok(std::string(kWireMaxPayload + 1, 'a')));
}
