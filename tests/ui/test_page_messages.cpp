// The page's messages through a real editor: "g" answered from the value cache, "m"
// handed to the handler and replies sent back, malformed messages ignored, and every
// example of the page's own protocol file (gestures relayed to the creating thread).
#include <bit>
#include <cmath>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "engine/params.h"
#include "tests/ui/editor_harness.h"
#include "tests/ui/protocol_examples.h"

namespace {

// What the page-message handler received, on which thread.
std::mutex g_mutex;
std::vector<std::string> g_handled;
DWORD g_handler_thread;

void record_handler(const char* text, page_reply_fn reply, void* context) {
    {
        std::lock_guard lock(g_mutex);
        g_handled.push_back(text);
        g_handler_thread = GetCurrentThreadId();
    }
    if (strncmp(text, "echo ", 5) == 0) reply(context, text + 5); // a reply, from the UI thread
}

std::vector<std::string> handled() {
    std::lock_guard lock(g_mutex);
    return g_handled;
}

struct Open {
    Host host;
    HWND parent;
    int browser;
};

// Opens an editor with the handler installed (or not) and `count` parameters.
void open(Open& o, Host host, page_message_handler handler, uint64_t count = 6) {
    {
        std::lock_guard lock(g_mutex);
        g_handled.clear();
    }
    o.host = std::move(host);
    o.parent = make_host_window();
    o.host.ed = editor_create(true, o.parent, o.host.callbacks(), handler, 800, 400, count);
    ASSERT_NE(o.host.ed, nullptr);
    o.browser = standin_browser_of(window_of(o.host.ed));
}

void close(Open& o) {
    editor_destroy(o.host.ed);
    DestroyWindow(o.parent);
}

std::vector<std::string> reports(const std::vector<float>& values) {
    std::vector<std::string> r;
    for (size_t i = 0; i < values.size(); ++i) r.push_back(report((uint32_t)i, values[i]));
    return r;
}

std::vector<std::string> last(const std::vector<std::string>& lines, size_t n) {
    return std::vector<std::string>(lines.end() - std::min(n, lines.size()), lines.end());
}

std::wstring wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring w(n - 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, w.data(), n);
    return w;
}

// "s", then two fields of exactly 8 hexadecimal digits.
bool is_report_form(const std::string& text) {
    if (text.size() != 19 || text.rfind("s ", 0) != 0 || text[10] != ' ') return false;
    for (size_t i : {2, 11})
        if (text.find_first_not_of("0123456789abcdef", i) < i + 8) return false;
    return true;
}

const std::vector<float> kDefaults(kParamDefaults, kParamDefaults + kParamCount);

} // namespace

TEST_F(EditorTest, GetIsAnsweredFromTheCacheStartingAtTheDefaults) {
    with_time_limit([&] {
        Open o;
        open(o, make_host(), nullptr);
        deliver(o.browser, L"g"); // before the host sent anything
        EXPECT_EQ(page_posts(o.browser), reports(kDefaults));
        EXPECT_EQ(page_posts(o.browser)[3], "s 00000003 42c80000");

        deliver(o.browser, L"m no handler installed: ignored");
        EXPECT_EQ(page_posts(o.browser).size(), 6u);

        editor_set_parameter(o.host.ed, 2, 75);
        deliver(o.browser, L"s 3 00000000"); // the page's own value counts too
        deliver(o.browser, L"g and anything after");
        EXPECT_EQ(last(page_posts(o.browser), 6), reports({50, 50, 75, 0, 100, 0}));
        close(o);

        // An editor whose parameters are not the effect's starts at zero.
        open(o, make_host(), nullptr, 2);
        deliver(o.browser, L"g");
        EXPECT_EQ(page_posts(o.browser), reports({0, 0}));
        close(o);
        expect_nothing_left(o.browser);
    });
}

TEST_F(EditorTest, MalformedMessagesAndValuesChangeNothing) {
    with_time_limit([&] {
        Open o;
        open(o, make_host(), record_handler);
        for (const wchar_t* text : {L"",
                                    L"x 0 42480000",
                                    L"S 0 42480000",
                                    L"b",
                                    L"s",
                                    L"e",
                                    L"m",
                                    L"s 0",
                                    L"s 0 ",
                                    L"s zz 42480000",
                                    L"s 0 zz",
                                    L"s 0,42480000",
                                    L"s -1 42480000",
                                    L"s 0 1ffffffff",
                                    L"s 100000000 0",
                                    L"s 6 3f800000",
                                    L"s ffffffff 0",
                                    L"s 0 7fc00000",
                                    L"s 0 7f800000",
                                    L"e 0 ff800000"})
            deliver(o.browser, text);
        deliver(o.browser, L"s 0 42480000", true); // not a string
        deliver(o.browser, L"m \xd800 unpaired");  // not convertible to UTF-8
        auto log = browser_log(o.browser);
        EXPECT_EQ(log[log.size() - 2], "WebMessageReceived -> 0x80070057");
        EXPECT_EQ(log.back(), "WebMessageReceived -> 0x80070459");

        // The host's side refuses the same way.
        EXPECT_EQ(editor_set_parameter(o.host.ed, 6, 1), -1);
        EXPECT_EQ(editor_set_parameter(o.host.ed, UINT64_MAX, 1), -1);
        EXPECT_EQ(editor_set_parameter(o.host.ed, 0, NAN), -1);
        EXPECT_EQ(editor_set_parameter(o.host.ed, 0, -INFINITY), -1);
        editor_send_text(o.host.ed, "\xff not UTF-8");

        EXPECT_TRUE(o.host.edits.empty());
        EXPECT_TRUE(handled().empty());
        EXPECT_TRUE(page_posts(o.browser).empty());
        deliver(o.browser, L"g");
        EXPECT_EQ(page_posts(o.browser), reports(kDefaults));
        close(o);
        expect_nothing_left(o.browser);
    });
}

TEST_F(EditorTest, HandlerMessagesArriveWholeAndRepliesGoOut) {
    with_time_limit([&] {
        Open o;
        open(o, make_host(), record_handler);
        // Up to 1023 bytes of UTF-8 fit the handler's own buffer; longer ones take the heap.
        std::string fits(1021, 'a'), just_over(1022, 'b'), long_text;
        for (int i = 0; i < 2500; ++i) long_text += "\xc3\xa9"; // é, two bytes each
        const std::vector<std::string> texts = {"kestrelV1 init emberpress", fits, just_over,
                                                long_text, ""};
        for (auto& text : texts) deliver(o.browser, wide("m " + text));
        EXPECT_EQ(handled(), texts);
        EXPECT_EQ(g_handler_thread, GetWindowThreadProcessId(window_of(o.host.ed), nullptr));

        deliver(o.browser, wide("m echo gr\xc3\xbc\xc3\x9f dich")); // the handler answers at once
        EXPECT_EQ(page_posts(o.browser).back(), "m gr\xc3\xbc\xc3\x9f dich");
        editor_send_text(o.host.ed, "kestrelV1 initDone "); // from the creating thread
        EXPECT_EQ(page_posts(o.browser).back(), "m kestrelV1 initDone ");
        std::thread([&] { editor_send_text(o.host.ed, "from another thread"); }).join();
        EXPECT_EQ(page_posts(o.browser).back(), "m from another thread");
        close(o);
        expect_nothing_left(o.browser);
    });
}

// The page's protocol examples (page/tests/protocol-examples.json), shared with the
// page's own tests, flattened beside this executable at build time.
TEST_F(EditorTest, ProtocolExamplesOfThePage) {
    std::ifstream in(exe_folder() + "\\protocol-examples.tsv");
    if (!in) GTEST_SKIP() << "no protocol examples file in this build";
    const std::vector<ProtocolExample> examples = read_protocol_examples(in);
    ASSERT_GT(examples.size(), 20u);

    with_time_limit([&] {
        Open o;
        open(o, make_host(), record_handler);
        std::vector<float> model = kDefaults; // what "g" must report
        for (const ProtocolExample& ex : examples) {
            SCOPED_TRACE(ex.side + " \"" + ex.text + "\": " + ex.why);
            size_t edits = o.host.edits.size(), calls = handled().size(),
                   posts = page_posts(o.browser).size();
            if (ex.side == "page") {
                deliver(o.browser, wide(ex.text));
                if (ex.ignored) {
                    EXPECT_EQ(o.host.edits.size(), edits);
                    EXPECT_EQ(handled().size(), calls);
                    EXPECT_EQ(page_posts(o.browser).size(), posts);
                } else if (ex.kind == "g") {
                    EXPECT_EQ(last(page_posts(o.browser), 6), reports(model));
                } else if (ex.kind == "m") {
                    ASSERT_EQ(handled().size(), calls + 1);
                    EXPECT_EQ(handled().back(), ex.handler_text);
                } else {
                    ASSERT_EQ(o.host.edits.size(), edits + 1);
                    const Edit& edit = o.host.edits.back();
                    EXPECT_EQ(std::string(1, edit.kind), ex.kind);
                    EXPECT_EQ(edit.index, std::stoul(ex.index));
                    EXPECT_EQ(std::bit_cast<uint32_t>(edit.value),
                              std::stoul(ex.bits, nullptr, 16));
                    EXPECT_TRUE(edit.on_creating_thread);
                    EXPECT_EQ(page_posts(o.browser).size(), posts) << "gestures are not echoed";
                    model[edit.index] = edit.value;
                }
            } else if (!ex.ignored && ex.kind == "s") { // exactly what the native side writes
                float value = std::bit_cast<float>((uint32_t)std::stoul(ex.bits, nullptr, 16));
                EXPECT_EQ(editor_set_parameter(o.host.ed, std::stoul(ex.index), value), 0);
                EXPECT_EQ(page_posts(o.browser).back(), ex.text);
                model[std::stoul(ex.index)] = value;
            } else if (!ex.ignored && ex.kind == "m") {
                editor_send_text(o.host.ed, ex.handler_text.c_str());
                EXPECT_EQ(page_posts(o.browser).back(), ex.text);
            } else if (ex.ignored && is_report_form(ex.text)) {
                // A report the native side must never write: the host's value is refused.
                uint32_t index = std::stoul(ex.text.substr(2, 8), nullptr, 16);
                uint32_t bits = std::stoul(ex.text.substr(11, 8), nullptr, 16);
                EXPECT_EQ(editor_set_parameter(o.host.ed, index, std::bit_cast<float>(bits)), -1);
                EXPECT_EQ(page_posts(o.browser).size(), posts);
            }
        }
        deliver(o.browser, L"g"); // nothing the ignored examples did changed a value
        EXPECT_EQ(last(page_posts(o.browser), 6), reports(model));
        close(o);
        expect_nothing_left(o.browser);
    });
}
