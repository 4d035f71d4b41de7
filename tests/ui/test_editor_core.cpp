// The editor's portable core through its door, natively, with ordinary threads: every
// protocol example of the page, page edits in order while host threads set values,
// the hand-over, a host that closes the editor from inside its edit callback, a page
// that goes away while an edit waits, and what is dropped while there is no page.
// Each case runs with the page on a thread of its own and on the creating thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "engine/params.h"
#include "tests/time_limit.h"
#include "tests/ui/protocol_examples.h"
#include "tests/ui/test_backend.h"
#include "ui/editor.h"

namespace {

struct Edit {
    char kind;
    uint32_t index;
    float value;
    bool on_creating_thread;
};

// The host's side, on the thread that creates the editor.
struct Host {
    std::thread::id thread = std::this_thread::get_id();
    editor* ed = nullptr;
    page_backend* page = nullptr;
    std::vector<Edit> edits;
    std::function<void(Host&, const Edit&)> react; // runs inside the edit callback

    static void record(void* user, char kind, uint32_t index, float value) {
        Host& host = *static_cast<Host*>(user);
        const Edit edit{kind, index, value, std::this_thread::get_id() == host.thread};
        host.edits.push_back(edit);
        if (host.react) host.react(host, edit);
    }
    editor_callbacks callbacks() {
        return {this,
                "test",
                [](void*) { return "modules"; },
                [](void*) { return "pages"; },
                [](void* u, uint32_t i, float v) { record(u, 'b', i, v); },
                [](void* u, uint32_t i, float v) { record(u, 's', i, v); },
                [](void* u, uint32_t i, float v) { record(u, 'e', i, v); }};
    }
    bool open(page_threading threading, page_message_handler handler = nullptr) {
        test_backend_next(threading);
        ed = editor_create(true, this, callbacks(), handler, 800, 400, kParamCount);
        page = ed ? test_backend_last() : nullptr;
        // A page handed over on the creating thread loads when the host first polls.
        if (ed && threading == page_threading::creating_thread) editor_idle(ed);
        return ed != nullptr;
    }
    // Plays a page message and runs the host's loop until the editor has handled it.
    bool deliver(const std::string& text) {
        const int before = test_page_handled(page);
        test_page_sends(page, text);
        return test_pump_until(page, [&] { return test_page_handled(page) > before; });
    }
    std::vector<std::string> posts() const { return test_page_posts(page); }
};

std::string report(uint32_t index, float value) {
    char text[32];
    snprintf(text, sizeof text, "s %08x %08x", index, std::bit_cast<uint32_t>(value));
    return text;
}

std::vector<std::string> reports(const std::vector<float>& values) {
    std::vector<std::string> r;
    for (size_t i = 0; i < values.size(); ++i) r.push_back(report(uint32_t(i), values[i]));
    return r;
}

std::vector<std::string> last(const std::vector<std::string>& lines, size_t n) {
    return {lines.end() - std::min(n, lines.size()), lines.end()};
}

// What the page-message handler received.
std::mutex g_mutex;
std::vector<std::string> g_handled;

void record_handler(const char* text, page_reply_fn reply, void* context) {
    {
        std::lock_guard lock(g_mutex);
        g_handled.push_back(text);
    }
    if (strncmp(text, "echo ", 5) == 0) reply(context, text + 5);
}

size_t handled_count() {
    std::lock_guard lock(g_mutex);
    return g_handled.size();
}

const std::vector<float> kDefaults(kParamDefaults, kParamDefaults + kParamCount);

class EditorCore : public ::testing::TestWithParam<page_threading> {};

std::string threading_name(const ::testing::TestParamInfo<page_threading>& info) {
    return info.param == page_threading::own_thread ? "PageThreadOfItsOwn" : "PageOnCreatingThread";
}

} // namespace

// The page's own protocol file (page/tests/protocol-examples.json, flattened at build
// time): what each page text does, and exactly what the native side writes.
TEST_P(EditorCore, ProtocolExamplesOfThePage) {
    std::ifstream in(EMBER_PROTOCOL_EXAMPLES);
    ASSERT_TRUE(in) << EMBER_PROTOCOL_EXAMPLES;
    const std::vector<ProtocolExample> examples = read_protocol_examples(in);
    ASSERT_GT(examples.size(), 20u);

    with_time_limit([&] {
        g_handled.clear();
        Host host;
        ASSERT_TRUE(host.open(GetParam(), record_handler));
        std::vector<float> model = kDefaults; // what "g" must report
        for (const ProtocolExample& ex : examples) {
            SCOPED_TRACE(ex.side + " \"" + ex.text + "\": " + ex.why);
            const size_t edits = host.edits.size(), calls = handled_count(),
                         posts = host.posts().size();
            if (ex.side == "page") {
                ASSERT_TRUE(host.deliver(ex.text));
                if (ex.ignored) {
                    EXPECT_EQ(host.edits.size(), edits);
                    EXPECT_EQ(handled_count(), calls);
                    EXPECT_EQ(host.posts().size(), posts);
                } else if (ex.kind == "g") {
                    EXPECT_EQ(last(host.posts(), 6), reports(model));
                } else if (ex.kind == "m") {
                    ASSERT_EQ(handled_count(), calls + 1);
                    EXPECT_EQ(g_handled.back(), ex.handler_text);
                } else {
                    ASSERT_EQ(host.edits.size(), edits + 1);
                    const Edit& edit = host.edits.back();
                    EXPECT_EQ(std::string(1, edit.kind), ex.kind);
                    EXPECT_EQ(edit.index, std::stoul(ex.index));
                    EXPECT_EQ(std::bit_cast<uint32_t>(edit.value),
                              std::stoul(ex.bits, nullptr, 16));
                    EXPECT_TRUE(edit.on_creating_thread);
                    EXPECT_EQ(host.posts().size(), posts) << "gestures are not echoed";
                    model[edit.index] = edit.value;
                }
            } else if (!ex.ignored && ex.kind == "s") {
                const float value =
                    std::bit_cast<float>(uint32_t(std::stoul(ex.bits, nullptr, 16)));
                EXPECT_EQ(editor_set_parameter(host.ed, std::stoul(ex.index), value), 0);
                EXPECT_EQ(host.posts().back(), ex.text);
                model[std::stoul(ex.index)] = value;
            } else if (!ex.ignored && ex.kind == "m") {
                editor_send_text(host.ed, ex.handler_text.c_str());
                EXPECT_EQ(host.posts().back(), ex.text);
            }
        }
        ASSERT_TRUE(
            host.deliver("m echo gr\xc3\xbc\xc3\x9f")); // a reply through the handler's sender
        EXPECT_EQ(host.posts().back(), "m gr\xc3\xbc\xc3\x9f");
        ASSERT_TRUE(host.deliver("g")); // nothing the ignored examples did changed a value
        EXPECT_EQ(last(host.posts(), 6), reports(model));
        for (const std::string& post : host.posts()) EXPECT_NE(post, "posted off the page thread");
        editor_destroy(host.ed);
        EXPECT_TRUE(test_backend_closed());
    });
}

// Page gestures reach the host in the page's order, on the creating thread, while
// other threads set values all along; values the host sets inside its callback reach
// the page before the callback returns; texts sent there are dropped.
TEST_P(EditorCore, EditsKeepThePageOrderWhileHostThreadsSetValues) {
    with_time_limit([&] {
        Host host;
        constexpr int kRounds = 60, kValues = 150;
        host.react = [&](Host& h, const Edit& edit) {
            if (edit.kind != 's') return;
            EXPECT_EQ(editor_set_parameter(h.ed, 5, edit.value / 100), 0); // the hand-over
            const auto posts = h.posts();
            EXPECT_NE(std::find(posts.begin(), posts.end(), report(5, edit.value / 100)),
                      posts.end());
            editor_send_text(h.ed, "from inside the callback");
        };
        ASSERT_TRUE(host.open(GetParam()));
        std::vector<std::string> sent;
        for (int k = 0; k < kRounds; ++k)
            for (char kind : {'b', 's', 'e'}) {
                char text[32];
                snprintf(text, sizeof text, "%c 0 %08x", kind, std::bit_cast<uint32_t>(float(k)));
                sent.push_back(text);
                test_page_sends(host.page, text);
            }
        std::atomic<int> running{3};
        std::vector<std::thread> others;
        for (int t = 1; t <= 3; ++t)
            others.emplace_back([&, t] {
                for (int k = 1; k <= kValues; ++k)
                    EXPECT_EQ(editor_set_parameter(host.ed, t, float(k)), 0);
                --running;
            });
        ASSERT_TRUE(test_pump_until(host.page, [&] {
            return test_page_handled(host.page) == 3 * kRounds && running == 0;
        }));
        for (auto& t : others) t.join();
        // Values from other threads that wait for nobody arrive at the next poll.
        ASSERT_TRUE(test_pump_until(
            host.page, [&] { return host.posts().size() >= size_t(3 * kValues + kRounds); }));

        std::vector<std::string> relayed;
        for (const Edit& e : host.edits) {
            char text[32];
            snprintf(text, sizeof text, "%c %x %08x", e.kind, e.index,
                     std::bit_cast<uint32_t>(e.value));
            relayed.push_back(text);
            EXPECT_TRUE(e.on_creating_thread);
        }
        EXPECT_EQ(relayed, sent);
        const auto posts = host.posts();
        EXPECT_EQ(posts.size(), size_t(3 * kValues + kRounds)) << "one report per call, no text";
        for (int t = 1; t <= 3; ++t) {
            std::vector<std::string> expected, seen;
            for (int k = 1; k <= kValues; ++k) expected.push_back(report(t, float(k)));
            std::copy_if(
                posts.begin(), posts.end(), std::back_inserter(seen),
                [&](const std::string& p) { return p.rfind(report(t, 0).substr(0, 11), 0) == 0; });
            EXPECT_EQ(seen, expected) << "one thread's values arrive in its order";
        }
        editor_destroy(host.ed);
    });
}

// A host that closes the editor from inside its edit callback: the call returns, the
// host is called no more, and the editor is gone once the callback has returned.
// Closing from another thread is refused and changes nothing.
TEST_P(EditorCore, HostClosesTheEditorFromInsideItsEditCallback) {
    with_time_limit([&] {
        Host host;
        bool returned = false;
        host.react = [&](Host& h, const Edit&) {
            editor_destroy(h.ed);
            returned = true;
            EXPECT_FALSE(test_backend_closed()) << "not while the callback runs";
        };
        ASSERT_TRUE(host.open(GetParam()));
        std::thread([&] { editor_destroy(host.ed); }).join();
        EXPECT_FALSE(test_backend_closed());
        EXPECT_EQ(editor_set_parameter(host.ed, 0, 1), 0);
        EXPECT_EQ(host.posts(), std::vector<std::string>{report(0, 1)});

        test_page_sends(host.page, "b 0 3f800000");
        test_page_sends(host.page, "e 0 3f800000");
        EXPECT_TRUE(test_pump_until(host.page, [] { return test_backend_closed(); }));
        EXPECT_TRUE(returned);
        ASSERT_EQ(host.edits.size(), 1u) << "nothing after the editor was closed";
    });
}

// The page goes while an edit waits for a host that is not serving: the page side
// does not hang. A waiting edit still runs first when the host closes the editor.
TEST_P(EditorCore, PageGoneWhileAnEditWaits) {
    with_time_limit([&] {
        Host host;
        ASSERT_TRUE(host.open(GetParam()));
        test_page_sends(host.page, "e 4 43480000");
        auto wait_for = [](const std::function<bool()>& done) {
            const auto start = std::chrono::steady_clock::now();
            while (!done() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        if (GetParam() == page_threading::creating_thread)
            editor_idle(host.ed); // the edit runs at once
        else
            wait_for([&] { return test_edit_waits(host.page); }); // relayed, not served
        test_page_closes(host.page);
        wait_for([&] { return test_page_handled(host.page) == 1; });
        EXPECT_EQ(test_page_handled(host.page), 1) << "the page thread went on";

        EXPECT_EQ(editor_set_parameter(host.ed, 0, 1), 0) << "no page: returns at once";
        editor_send_text(host.ed, "no page");
        EXPECT_TRUE(host.posts().empty());
        editor_destroy(host.ed);
        EXPECT_TRUE(test_backend_closed());
        ASSERT_EQ(host.edits.size(), 1u);
        EXPECT_EQ(host.edits[0].kind, 'e');
        EXPECT_TRUE(host.edits[0].on_creating_thread);
    });
}

// Before the page is loaded only the cache changes; bad values and texts are refused
// and change nothing; a start that fails leaves no editor.
TEST_P(EditorCore, RefusalsAndWhatWaitsForThePage) {
    with_time_limit([&] {
        Host host;
        test_backend_next(GetParam(), false);
        EXPECT_EQ(editor_create(true, &host, host.callbacks(), nullptr, 800, 400, 6), nullptr);
        test_backend_next(GetParam());
        editor_callbacks no_folder = host.callbacks();
        no_folder.get_page_folder = nullptr;
        EXPECT_EQ(editor_create(true, &host, no_folder, nullptr, 800, 400, 6), nullptr);
        EXPECT_EQ(editor_create(true, nullptr, host.callbacks(), nullptr, 800, 400, 6), nullptr)
            << "embedded needs a parent";
        EXPECT_EQ(editor_create(true, &host, host.callbacks(), nullptr, 800, 400, 1ull << 32),
                  nullptr);

        host.ed = editor_create(true, &host, host.callbacks(), nullptr, 800, 400, kParamCount);
        ASSERT_NE(host.ed, nullptr);
        host.page = test_backend_last();
        EXPECT_EQ(editor_set_parameter(host.ed, 2, 75), 0);
        if (GetParam() == page_threading::creating_thread) {
            EXPECT_TRUE(host.posts().empty()) << "no page loaded yet";
            editor_idle(host.ed);
        } else {
            EXPECT_EQ(host.posts(), std::vector<std::string>{report(2, 75)});
        }
        const size_t before = host.posts().size();
        EXPECT_EQ(editor_set_parameter(host.ed, 6, 1), -1);
        EXPECT_EQ(editor_set_parameter(host.ed, UINT64_MAX, 1), -1);
        EXPECT_EQ(editor_set_parameter(host.ed, 0, NAN), -1);
        EXPECT_EQ(editor_set_parameter(host.ed, 0, -INFINITY), -1);
        for (const char* text :
             {"\xff", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"})
            editor_send_text(host.ed, text); // not UTF-8: a byte, overlong, surrogate, too big, cut
        editor_send_text(host.ed, nullptr);
        EXPECT_EQ(host.posts().size(), before);

        ASSERT_TRUE(host.deliver("g"));
        EXPECT_EQ(last(host.posts(), 6), reports({50, 50, 75, 100, 100, 0}));
        editor_destroy(host.ed);
    });
}

INSTANTIATE_TEST_SUITE_P(Threads, EditorCore,
                         ::testing::Values(page_threading::own_thread,
                                           page_threading::creating_thread),
                         threading_name);
