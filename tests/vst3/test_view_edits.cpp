// Page gestures through the view become the host's edits on its own thread, and host
// values reach the page, also while the two cross: a host value during a drag, host
// values set from inside the host's edit calls, a resize and a release while a page
// edit is in flight. Every scenario runs with a time limit.
#include <cmath>
#include <cstdlib>

#include "state/plugin_state.h"
#include "view_host.h"

namespace {

double normalized(Session& s, ParamID id) {
    return s.controller->vtbl->getParamNormalized(s.controller, id);
}

std::vector<std::string> last_posts(int browser, size_t n) {
    auto posts = page_posts(browser);
    return std::vector<std::string>(posts.end() - std::min(n, posts.size()), posts.end());
}

} // namespace

TEST_F(ViewTest, PageGesturesBecomeHostEditsOnTheHostThread) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        deliver(v.browser, L"b 1 42280000"); // tone 42
        deliver(v.browser, L"s 1 42300000"); // 44
        deliver(v.browser, L"e 1 42300000");
        deliver(v.browser, L"s 5 3f000000"); // bypass 0.5 switches on
        deliver(v.browser, L"s 4 43960000"); // volume 300 is held at 200
        EXPECT_EQ(s.handler.calls, (std::vector<HostCall>{{'b', kToneId, 0, true},
                                                          {'p', kToneId, 0.42, true},
                                                          {'p', kToneId, 0.44, true},
                                                          {'p', kToneId, 0.44, true},
                                                          {'e', kToneId, 0, true},
                                                          {'p', kBypassId, 1.0, true},
                                                          {'p', kVolumeId, 1.0, true}}));
        EXPECT_EQ(normalized(s, kToneId), 0.44);
        EXPECT_EQ(normalized(s, kBypassId), 1.0);
        EXPECT_EQ(normalized(s, kVolumeId), 1.0);
        EXPECT_EQ(page_posts(v.browser), reports({50, 50, 50, 100, 100, 0}))
            << "the page's own edits are not sent back to it";

        // The host swaps its handler inside performEdit: endEdit still reaches the one
        // that took the gesture, which the controller holds until then.
        EditHandler next;
        int refs_during_end = 0;
        s.handler.react = [&](const HostCall& call) {
            if (call.kind == 'p')
                s.controller->vtbl->setComponentHandler(s.controller, &next.iface);
            if (call.kind == 'e') refs_during_end = s.handler.refs;
        };
        deliver(v.browser, L"e 2 42480000");
        EXPECT_EQ(s.handler.calls.back(), (HostCall{'e', 417465296u, 0, true}));
        EXPECT_EQ(refs_during_end, 2);
        EXPECT_EQ(s.handler.refs, 1);
        s.handler.react = nullptr;

        // Without a component handler the edit is only stored.
        EXPECT_EQ(s.controller->vtbl->setComponentHandler(s.controller, nullptr), kResultOk);
        deliver(v.browser, L"s 0 41200000"); // drive 10
        EXPECT_EQ(s.handler.calls.size(), 9u);
        EXPECT_TRUE(next.calls.empty());
        EXPECT_EQ(normalized(s, kDriveId), 0.1);
        close_view(v);
        expect_nothing_left({v.browser});
    });
}

TEST_F(ViewTest, HostValuesDuringADragReachThePage) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        deliver(v.browser, L"b 0 42480000");
        s.set(kDriveId, 0.7);
        EXPECT_EQ(page_posts(v.browser).back(), report(0, 70));
        deliver(v.browser, L"s 0 42500000");
        deliver(v.browser, L"e 0 42500000");
        EXPECT_EQ(s.handler.calls, (std::vector<HostCall>{{'b', kDriveId, 0, true},
                                                          {'p', kDriveId, 0.5, true},
                                                          {'p', kDriveId, 0.52, true},
                                                          {'p', kDriveId, 0.52, true},
                                                          {'e', kDriveId, 0, true}}));

        // The page's edit and the host's value race each other; either order finishes.
        for (int round = 1; round <= 20; ++round) {
            const int before = stand_in().events_done(v.browser);
            ASSERT_EQ(stand_in().page_message(v.browser, L"s 2 42480000", 0), 0);
            if (round % 2) Sleep(1);
            s.set(kToneId, round / 100.0);
            EXPECT_EQ(page_posts(v.browser).back(), report(1, float(100 * (round / 100.0))));
            ASSERT_TRUE(pump_until([&] { return stand_in().events_done(v.browser) > before; }));
        }
        EXPECT_EQ(s.handler.calls.size(), 25u);
        for (const HostCall& call : s.handler.calls) EXPECT_TRUE(call.on_host_thread);
        close_view(v);
        expect_nothing_left({v.browser});
    });
}

TEST_F(ViewTest, HostSetsValuesFromInsideItsEditCalls) {
    with_time_limit([&] {
        const float stored[kParamCount] = {10, 20, 30, 40, 50, 1};
        size_t length = 0;
        uint8_t* bytes = plugin_state_save(stored, "vst3", kPluginPlatform, 48000, &length);
        ASSERT_NE(bytes, nullptr);
        const std::vector<uint8_t> state(bytes, bytes + length);
        std::free(bytes);

        Session s;
        // The host rounds the page's tone to a whole percent and moves volume with it;
        // at the end of a gesture it loads a saved state. All of it happens inside its
        // edit calls, while the editor's thread waits for them.
        s.handler.react = [&](const HostCall& call) {
            if (call.kind == 'p' && call.id == kToneId) {
                s.set(kToneId, std::round(call.value * 100) / 100);
                s.set(kVolumeId, 0.75);
            }
            if (call.kind == 'e') {
                MemoryStream stream(state);
                EXPECT_EQ(s.controller->vtbl->setComponentState(s.controller, stream.stream()),
                          kResultOk);
            }
        };
        OpenView v = open_view(s);
        deliver(v.browser, L"s 1 4228cccd"); // 42.2
        EXPECT_EQ(last_posts(v.browser, 2),
                  (std::vector<std::string>{report(1, 42), report(4, 150)}));
        deliver(v.browser, L"e 0 42480000");
        EXPECT_EQ(last_posts(v.browser, 6), reports({10, 20, 30, 40, 50, 1}));
        deliver(v.browser, L"g");
        EXPECT_EQ(last_posts(v.browser, 6), reports({10, 20, 30, 40, 50, 1}))
            << "the values the host set replaced the page's own";
        EXPECT_EQ(normalized(s, kToneId), 0.2);
        close_view(v);
        expect_nothing_left({v.browser});
    });
}

TEST_F(ViewTest, HostResizesWhileAPageEditIsInFlight) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        auto size_now = [&] {
            ViewRect r{};
            EXPECT_EQ(v.view->vtbl->getSize(v.view, &r), kResultOk);
            return std::to_string(r.right) + "x" + std::to_string(r.bottom);
        };
        auto bounds_logged = [&](const std::string& bounds) {
            auto log = browser_log(v.browser);
            return std::find(log.begin(), log.end(), "put_Bounds 0 0 " + bounds) != log.end();
        };
        // From inside the host's edit call, while the editor's thread waits for it.
        ViewRect inside{0, 0, 1000, 600};
        s.handler.react = [&](const HostCall&) {
            EXPECT_EQ(v.view->vtbl->onSize(v.view, &inside), kResultOk);
            EXPECT_EQ(size_now(), "1000x600");
            EXPECT_TRUE(bounds_logged("1000 600")) << "the browser followed at once";
        };
        deliver(v.browser, L"s 2 42480000");
        ASSERT_EQ(s.handler.calls.size(), 1u);
        s.handler.react = nullptr;

        // Between the relay and the host's turn to run the edit.
        deliver_until_relayed(v.browser, L"s 3 42480000");
        ViewRect outside{0, 0, 900, 500};
        EXPECT_EQ(v.view->vtbl->onSize(v.view, &outside), kResultOk);
        EXPECT_EQ(size_now(), "900x500");
        EXPECT_TRUE(bounds_logged("900 500"));
        EXPECT_TRUE(pump_until([&] { return s.handler.calls.size() == 2; }));
        close_view(v);
        expect_nothing_left({v.browser});
    });
}

TEST_F(ViewTest, HostReleasesTheViewWhileAPageEditIsInFlight) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        deliver_until_relayed(v.browser, L"e 4 43480000"); // volume 200
        EXPECT_EQ(release(v.view), 0u) << "closes the editor; the relayed edit runs first";
        EXPECT_EQ(s.handler.calls,
                  (std::vector<HostCall>{{'p', kVolumeId, 1.0, true}, {'e', kVolumeId, 0, true}}));
        expect_nothing_left({v.browser});
        s.set(kDriveId, 0.2); // the released view is out of the controller's list

        HWND parent = v.parent;
        v = open_view(s);
        EXPECT_EQ(page_posts(v.browser), reports({20, 50, 50, 100, 200, 0}));
        close_view(v);
        DestroyWindow(parent);
        expect_nothing_left({v.browser});
    });
}

TEST_F(ViewTest, HostClosesTheViewFromInsideItsEditCall) {
    with_time_limit([&] {
        constexpr ParamID kMixId = 907392060u;
        Session s;
        // First the host removes the view inside performEdit, then it lets go of it
        // there: either way the call returns, endEdit still reaches the host (the
        // controller finishes its gesture), and the editor is gone once the host's
        // call has returned.
        for (const bool final_release : {false, true}) {
            SCOPED_TRACE(final_release ? "final release" : "removed");
            OpenView v = open_view(s);
            s.handler.calls.clear();
            s.handler.react = [&](const HostCall& call) {
                if (call.kind != 'p') return;
                if (final_release)
                    EXPECT_EQ(release(v.view), 0u);
                else
                    EXPECT_EQ(v.view->vtbl->removed(v.view), kResultOk);
            };
            deliver(v.browser, L"e 3 42480000");
            s.handler.react = nullptr;
            EXPECT_EQ(s.handler.calls,
                      (std::vector<HostCall>{{'p', kMixId, 0.5, true}, {'e', kMixId, 0, true}}));
            EXPECT_FALSE(IsWindow(v.ui_window));
            expect_nothing_left({v.browser});
            if (!final_release) {
                ASSERT_EQ(v.view->vtbl->attached(v.view, v.parent, kPlatformTypeHWND), kResultOk);
                EXPECT_EQ(v.view->vtbl->removed(v.view), kResultOk);
                EXPECT_EQ(release(v.view), 0u);
            }
            DestroyWindow(v.parent);
        }
        expect_nothing_left();
    });
}

TEST_F(ViewTest, HostWindowDestroyedWhileAPageEditIsInFlight) {
    with_time_limit([&] {
        Session s;
        OpenView v = open_view(s);
        deliver_until_relayed(v.browser, L"s 0 42c80000"); // drive 100
        DestroyWindow(v.parent);                           // takes the editor's window with it
        EXPECT_TRUE(pump_until([&] {
            return !IsWindow(v.ui_window) && browser_log(v.browser).back() == "Close";
        })) << "the editor's thread ends on its own";
        EXPECT_EQ(s.handler.calls, (std::vector<HostCall>{{'p', kDriveId, 1.0, true}}))
            << "the edit that was on its way still reached the host";
        EXPECT_EQ(v.view->vtbl->removed(v.view), kResultOk);
        EXPECT_EQ(release(v.view), 0u);
        expect_nothing_left({v.browser});
    });
}
