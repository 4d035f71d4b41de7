#include "x11_view_host.h"

#include <poll.h>

#include <algorithm>
#include <filesystem>
#include <thread>

using Clock = std::chrono::steady_clock;

// --- RunLoop -------------------------------------------------------------------------

namespace {

RunLoop* as_loop(IRunLoop* i) {
    return reinterpret_cast<RunLoop*>(i);
}

tresult loop_query(IRunLoop* i, const char* iid, void** obj) {
    *obj = nullptr;
    if (!uid_equal(iid, kIRunLoopIid) && !uid_equal(iid, kFUnknownIid)) return kNoInterface;
    *obj = i;
    ++as_loop(i)->refs;
    return kResultOk;
}
uint32_t loop_add_ref(IRunLoop* i) {
    return uint32_t(++as_loop(i)->refs);
}
uint32_t loop_release(IRunLoop* i) {
    return uint32_t(--as_loop(i)->refs);
}

// A handler registered twice, or a null one, is refused as a host would.
tresult register_event_handler(IRunLoop* i, IEventHandler* h, FileDescriptor fd) {
    RunLoop* l = as_loop(i);
    if (!h || fd < 0) return kInvalidArgument;
    for (const auto& w : l->watches)
        if (w.handler == h) return kResultFalse;
    h->vtbl->unknown.addRef(h);
    l->watches.push_back({h, fd});
    return kResultOk;
}
tresult unregister_event_handler(IRunLoop* i, IEventHandler* h) {
    RunLoop* l = as_loop(i);
    auto it = std::find_if(l->watches.begin(), l->watches.end(),
                           [h](const RunLoop::Watch& w) { return w.handler == h; });
    if (it == l->watches.end()) return kResultFalse;
    l->watches.erase(it);
    h->vtbl->unknown.release(h);
    return kResultOk;
}
tresult register_timer(IRunLoop* i, ITimerHandler* h, TimerInterval ms) {
    RunLoop* l = as_loop(i);
    if (!h || ms == 0) return kInvalidArgument;
    if (l->refuse_timers) return kResultFalse;
    h->vtbl->unknown.addRef(h);
    l->timers.push_back({h, ms, Clock::now() + std::chrono::milliseconds(ms)});
    return kResultOk;
}
tresult unregister_timer(IRunLoop* i, ITimerHandler* h) {
    RunLoop* l = as_loop(i);
    auto it = std::find_if(l->timers.begin(), l->timers.end(),
                           [h](const RunLoop::Timer& t) { return t.handler == h; });
    if (it == l->timers.end()) return kResultFalse;
    l->timers.erase(it);
    h->vtbl->unknown.release(h);
    return kResultOk;
}

const IRunLoopVtbl kLoopVtbl = {{loop_query, loop_add_ref, loop_release},
                                register_event_handler,
                                unregister_event_handler,
                                register_timer,
                                unregister_timer};

} // namespace

RunLoop::RunLoop() : iface{&kLoopVtbl} {}

// One round: waits on the descriptors until the next timer is due, then calls the
// handlers of the readable descriptors and of the due timers. A handler may unregister
// anything, so each is looked up again before it is called.
bool RunLoop::run_until(const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    for (;;) {
        if (done()) return true;
        const auto now = Clock::now();
        if (now > deadline) return false;
        auto next = deadline;
        for (const Timer& t : timers) next = std::min(next, t.due);
        const int wait_ms = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::max(next - now, Clock::duration::zero()))
                                    .count());
        std::vector<pollfd> fds;
        std::vector<IEventHandler*> handlers;
        if (report_descriptors)
            for (const Watch& w : watches) {
                fds.push_back({w.fd, POLLIN, 0});
                handlers.push_back(w.handler);
            }
        // At most 50 ms at a time, so that `done` is asked often.
        poll(fds.data(), fds.size(), std::min(wait_ms, 50));
        for (size_t k = 0; k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            auto it = std::find_if(watches.begin(), watches.end(),
                                   [&](const Watch& w) { return w.handler == handlers[k]; });
            if (it == watches.end()) continue;
            ++descriptor_calls;
            it->handler->vtbl->onFDIsSet(it->handler, it->fd);
        }
        const auto fired = Clock::now();
        std::vector<ITimerHandler*> due;
        for (Timer& t : timers)
            if (t.due <= fired) {
                due.push_back(t.handler);
                t.due = fired + std::chrono::milliseconds(t.ms);
            }
        for (ITimerHandler* h : due) {
            if (std::none_of(timers.begin(), timers.end(),
                             [h](const Timer& t) { return t.handler == h; }))
                continue;
            ++timer_calls;
            h->vtbl->onTimer(h);
        }
    }
}

void RunLoop::run_for(double seconds) {
    run_until([] { return false; }, seconds);
}

// --- Frame and host context -------------------------------------------------------------

namespace {

template <class Object, class I>
tresult answer_run_loop(Object* o, I* self, const char* iid, const Uid& own, void** obj) {
    *obj = nullptr;
    if (uid_equal(iid, own) || uid_equal(iid, kFUnknownIid)) {
        *obj = self;
        return kResultOk;
    }
    if (uid_equal(iid, kIRunLoopIid) && o->loop) {
        *obj = o->loop->loop();
        ++o->loop->refs;
        return kResultOk;
    }
    return kNoInterface;
}

Frame* as_frame(IPlugFrame* i) {
    return reinterpret_cast<Frame*>(i);
}
uint32_t one_ref(IPlugFrame*) {
    return 1;
}
const IPlugFrameVtbl kFrameVtbl = {
    {[](IPlugFrame* i, const char* iid, void** obj) {
         return answer_run_loop(as_frame(i), i, iid, kIPlugFrameIid, obj);
     },
     one_ref, one_ref},
    [](IPlugFrame* i, IPlugView*, ViewRect* r) {
        Frame* f = as_frame(i);
        f->resizes.push_back(*r);
        if (f->on_resize) f->on_resize(*r);
        return kResultOk;
    },
};

Context* as_context(FUnknown* i) {
    return reinterpret_cast<Context*>(i);
}
const UnknownSlots<FUnknown> kContextVtbl = {
    [](FUnknown* i, const char* iid, void** obj) {
        return answer_run_loop(as_context(i), i, iid, kFUnknownIid, obj);
    },
    [](FUnknown*) { return 1u; },
    [](FUnknown*) { return 1u; },
};

} // namespace

Frame::Frame() : iface{&kFrameVtbl} {}
Context::Context() : iface{&kContextVtbl} {}

// --- EditRecorder --------------------------------------------------------------------

namespace {

EditRecorder* as_recorder(IComponentHandler* h) {
    return reinterpret_cast<EditRecorder*>(h);
}
const IComponentHandlerVtbl kRecorderVtbl = {
    {[](IComponentHandler* h, const char* iid, void** obj) {
         *obj = nullptr;
         if (!uid_equal(iid, kIComponentHandlerIid) && !uid_equal(iid, kFUnknownIid))
             return kNoInterface;
         *obj = h;
         ++as_recorder(h)->refs;
         return kResultOk;
     },
     [](IComponentHandler* h) { return uint32_t(++as_recorder(h)->refs); },
     [](IComponentHandler* h) { return uint32_t(--as_recorder(h)->refs); }},
    [](IComponentHandler* h, ParamID id) {
        as_recorder(h)->edits.push_back({'b', id, 0});
        return kResultOk;
    },
    [](IComponentHandler* h, ParamID id, ParamValue v) {
        as_recorder(h)->edits.push_back({'p', id, v});
        return kResultOk;
    },
    [](IComponentHandler* h, ParamID id) {
        as_recorder(h)->edits.push_back({'e', id, 0});
        return kResultOk;
    },
    [](IComponentHandler*, int32_t) { return kResultOk; },
};

} // namespace

EditRecorder::EditRecorder() : iface{&kRecorderVtbl} {}

void PrintTo(const Edit& e, std::ostream* out) {
    *out << e.kind << " " << e.id << " " << e.value;
}

// --- Session -------------------------------------------------------------------------

Session::Session(IPluginFactory3* factory, RunLoop* context_loop) {
    context.loop = context_loop;
    void* obj = nullptr;
    if (!factory || factory->vtbl->createInstance(
                        factory, make_uid(0x0301513B, 0x7A934919, 0xB64CA7F5, 0x703CCE54).bytes,
                        kIEditControllerIid.bytes, &obj) != kResultOk) {
        ADD_FAILURE() << "no controller";
        return;
    }
    controller = static_cast<IEditController*>(obj);
    EXPECT_EQ(controller->vtbl->initialize(controller, context.unknown()), kResultOk);
    EXPECT_EQ(controller->vtbl->setComponentHandler(controller, &handler.iface), kResultOk);
}

Session::~Session() {
    if (!controller) return;
    controller->vtbl->terminate(controller);
    EXPECT_EQ(release(controller), 0u);
    EXPECT_EQ(handler.refs, 1) << "the controller let go of the handler";
}

IPlugView* Session::create_view() {
    return controller->vtbl->createView(controller, "editor");
}

tresult Session::set(ParamID id, double normalized) {
    return controller->vtbl->setParamNormalized(controller, id, normalized);
}

// --- BundleCopy ----------------------------------------------------------------------

BundleCopy::BundleCopy(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path built = fs::path(EMBER_VST3_MODULE).parent_path().parent_path().parent_path();
    folder = scratch_folder() + "/" + name + "/fernwood-emberpress.vst3";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::copy(built, folder, fs::copy_options::recursive);
    const fs::path module_path = fs::path(folder) / "Contents/x86_64-linux/fernwood-emberpress.so";
    helper = (module_path.parent_path() / "emberpress-editor").string();
    module = module_load(module_path.string());
    if (!module.handle) {
        ADD_FAILURE() << module.error;
        return;
    }
    auto entry = reinterpret_cast<bool (*)(void*)>(module_symbol(module, "ModuleEntry"));
    auto get = reinterpret_cast<IPluginFactory3* (*)()>(module_symbol(module, "GetPluginFactory"));
    if (!entry || !get || !entry(module.handle)) {
        ADD_FAILURE() << "cannot enter " << module_path;
        return;
    }
    factory = get();
}

BundleCopy::~BundleCopy() {
    if (!module.handle) return;
    if (factory) release(factory);
    if (auto exit = reinterpret_cast<bool (*)()>(module_symbol(module, "ModuleExit"))) exit();
    module_unload(module);
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}

// --- Looking and dragging ----------------------------------------------------------------

bool page_drawn(Embedder& host, int width, int height) {
    return ember_pixels(host.pixels(0, 0, width, height)) > kDrawn * width / 800 * width / 800;
}

std::vector<Edit> drag_drive(RunLoop& loop, Session& s, Embedder& host, int dy, int width) {
    s.handler.edits.clear();
    EXPECT_TRUE(drag(host, drive_x(width), drive_y(width), dy));
    EXPECT_TRUE(loop.run_until(
        [&] { return !s.handler.edits.empty() && s.handler.edits.back().kind == 'e'; }, 5))
        << "no endEdit";
    return s.handler.edits;
}

void X11ViewTest::SetUp() {
    ASSERT_TRUE(start_private_display());
    adopt_orphans();
}
