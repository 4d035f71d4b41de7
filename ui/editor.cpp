// The editor object: the page protocol, the value cache and the thread rules around
// one platform backend. Portable; the backend (ui/backend.h) brings the platform.
//
// One teardown path: the editor's destructor closes the backend, whether creation
// failed half-way or editor_destroy ran. A destruction asked for while the creating
// thread is inside the editor (from inside an edit callback) is finished by the
// outermost of those frames, when it ends.
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "engine/params.h"
#include "ui/backend.h"
#include "ui/editor.h"
#include "ui/page_protocol.h"
#include "ui/relay.h"
#include "ui/utf8.h"

namespace {

void post_to_page(void* context, const char* text);
void run_host_edit(void* context, const page_edit& edit);
void wake_thread(void* context, editor_thread thread);
void call_creating_thread(void* context);
void wait_on_thread(void* context, editor_thread thread);

} // namespace

struct editor {
    editor(const editor_callbacks& cb, page_message_handler h, uint64_t count)
        : callbacks(cb), handler(h), parameter_count(count),
          values(new (std::nothrow) std::atomic<uint32_t>[count ? count : 1]),
          relay({this, post_to_page, run_host_edit, wake_thread, call_creating_thread,
                 wait_on_thread}) {}
    ~editor() {
        if (page_backend* b = backend.load()) backend_close(b);
    }

    const editor_callbacks callbacks;
    const page_message_handler handler; // or null
    const uint64_t parameter_count;
    // The last value of each parameter, from the host or the page, as float bits; what
    // "g" reports.
    const std::unique_ptr<std::atomic<uint32_t>[]> values;
    edit_relay relay;
    std::atomic<page_backend*> backend{nullptr};

    // Creating thread only.
    int frames = 0; // how deep the creating thread is inside the editor
    bool destroy_requested = false;
};

namespace {

// The creating thread inside the editor. When the outermost frame ends after
// editor_destroy was asked for, the editor is freed.
class creating_frame {
  public:
    explicit creating_frame(editor* ed) : ed_(ed->relay.on_creating_thread() ? ed : nullptr) {
        if (ed_) ++ed_->frames;
    }
    ~creating_frame() {
        if (ed_ && --ed_->frames == 0 && ed_->destroy_requested) delete ed_;
    }
    creating_frame(const creating_frame&) = delete;
    creating_frame& operator=(const creating_frame&) = delete;

  private:
    editor* const ed_;
};

editor* self(void* context) {
    return static_cast<editor*>(context);
}

void post_to_page(void* context, const char* text) {
    if (page_backend* b = self(context)->backend.load()) backend_post(b, text);
}

void run_host_edit(void* context, const page_edit& edit) {
    const editor_callbacks& cb = self(context)->callbacks;
    auto callback = edit.step == edit_step::begin     ? cb.begin_edit
                    : edit.step == edit_step::perform ? cb.perform_edit
                                                      : cb.end_edit;
    if (callback) callback(cb.user_data, edit.index, edit.value);
}

void wake_thread(void* context, editor_thread thread) {
    if (page_backend* b = self(context)->backend.load()) backend_wake(b, thread);
}

void call_creating_thread(void* context) {
    if (page_backend* b = self(context)->backend.load()) backend_call_creating_thread(b);
}

void wait_on_thread(void* context, editor_thread thread) {
    if (page_backend* b = self(context)->backend.load()) backend_wait(b, thread);
}

void reply_to_page(void* context, const char* text) {
    editor_send_text(self(context), text);
}

void store_value(editor* ed, uint32_t index, float value) {
    ed->values[index].store(std::bit_cast<uint32_t>(value), std::memory_order_relaxed);
}

float stored_value(const editor* ed, uint64_t index) {
    return std::bit_cast<float>(ed->values[index].load(std::memory_order_relaxed));
}

} // namespace

// ---- The door ----------------------------------------------------------------------

editor* editor_create(bool embedded, void* parent, const editor_callbacks& callbacks,
                      page_message_handler handler, int width, int height, uint64_t parameter_count,
                      const editor_sizing& sizing) {
    if (parameter_count > UINT32_MAX || !callbacks.get_module_folder ||
        !callbacks.get_page_folder || (embedded && !parent))
        return nullptr;
    std::unique_ptr<editor> ed(new (std::nothrow) editor(callbacks, handler, parameter_count));
    if (!ed || !ed->values) return nullptr;
    // The page may ask for values before the host has sent any: the effect's
    // parameters start at their defaults, any others at zero.
    for (uint64_t i = 0; i < parameter_count; ++i)
        store_value(ed.get(), uint32_t(i), parameter_count == kParamCount ? kParamDefaults[i] : 0);

    const backend_args args = {parent,
                               embedded,
                               width,
                               height,
                               callbacks.get_module_folder(callbacks.user_data),
                               callbacks.get_page_folder(callbacks.user_data),
                               sizing.scale,
                               sizing.follow_parent};
    page_backend* b = backend_open(ed.get(), args);
    ed->backend.store(b); // it may have named itself before it failed, and is gone then
    return b ? ed.release() : nullptr;
}

int editor_set_parameter(editor* ed, uint64_t index, float value) {
    if (!ed || index >= ed->parameter_count || !std::isfinite(value)) return -1;
    creating_frame frame(ed);
    store_value(ed, uint32_t(index), value);
    ed->relay.post(format_value_report(uint32_t(index), value).text);
    return 0;
}

void editor_send_text(editor* ed, const char* text) {
    if (!ed || !text || !is_utf8_text(text)) return;
    creating_frame frame(ed);
    if (ed->relay.inside_edit()) return;
    const size_t length = strlen(text);
    std::unique_ptr<char, decltype(&free)> message(static_cast<char*>(malloc(length + 3)), free);
    if (!message) return;
    memcpy(message.get(), "m ", 2);
    memcpy(message.get() + 2, text, length + 1);
    ed->relay.post(message.get());
}

void editor_idle(editor* ed) {
    if (!ed) return;
    creating_frame frame(ed);
    if (page_backend* b = ed->backend.load()) backend_idle(b);
}

void* editor_window(editor* ed) {
    page_backend* b = ed ? ed->backend.load() : nullptr;
    return b ? backend_window(b) : nullptr;
}

void editor_resize(editor* ed, int width, int height) {
    if (!ed) return;
    creating_frame frame(ed);
    if (page_backend* b = ed->backend.load()) backend_resize(b, width, height);
}

void editor_set_scale(editor* ed, double scale, int& width, int& height) {
    if (!ed) return;
    creating_frame frame(ed);
    if (page_backend* b = ed->backend.load()) backend_set_scale(b, scale, width, height);
}

int editor_poll_fd(editor* ed) {
    page_backend* b = ed ? ed->backend.load() : nullptr;
    return b ? backend_poll_fd(b) : -1;
}

void editor_destroy(editor* ed) {
    if (!ed || !ed->relay.on_creating_thread() || ed->destroy_requested) return;
    ed->destroy_requested = true;
    creating_frame frame(ed); // the outermost frame frees the editor
    ed->relay.close();
}

// ---- What the backend tells the editor ------------------------------------------------

void editor_page_state(editor* ed, page_backend* b, page_state state) {
    if (b) ed->backend.store(b);
    ed->relay.set_page_state(state);
}

void editor_page_message(editor* ed, const char* text) {
    creating_frame frame(ed); // the page thread may be the creating thread
    const page_message m = read_page_message(text, ed->parameter_count);
    switch (m.kind) {
    case page_kind::ignored:
        return;
    case page_kind::get_all:
        for (uint64_t i = 0; i < ed->parameter_count; ++i)
            ed->relay.post(format_value_report(uint32_t(i), stored_value(ed, i)).text);
        return;
    case page_kind::handler:
        if (ed->handler) ed->handler(m.text, reply_to_page, ed);
        return;
    case page_kind::begin_edit:
    case page_kind::perform_edit:
    case page_kind::end_edit:
        // The page's own value counts too: a later "g" reports it.
        store_value(ed, m.index, m.value);
        ed->relay.edit({static_cast<edit_step>(m.kind), m.index, m.value});
        return;
    }
}

void editor_serve(editor* ed) {
    creating_frame frame(ed);
    ed->relay.serve();
}
