// Emberpress's LV2 UI: the web editor inside the host's window. The host's control
// port values go to the page; the page's gestures come back as writes to the control
// ports, bracketed by the host's touch notifications when it offers them. The same on
// every platform but for its size (emberpress_ui.h). Windows builds it into the
// plug-in's binary; on Linux it is a binary of its own, so that the plug-in's binary
// (which headless hosts load) links nothing of X11.
//
// Every function here runs on the host's UI thread, which is also the editor's
// creating thread: the editor relays the page's edits to it (Windows) or hands them
// over there from its idle call (X11). The UI reaches the plug-in only through the
// host.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <lv2/core/lv2.h>
#include <lv2/core/lv2_util.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include "engine/params.h"
#include "kestrel/kestrel.h"
#include "lv2/emberpress_lv2.h"
#include "lv2/emberpress_ui.h"
#include "ui/editor.h"

// Spelled as it was first published: hosts keep this URI in their saved sessions.
#define EMBERPRESS_UI_URI "https://fernwood.audio/plugins/emberpess#ui"

struct EmberpressUi {
    editor* ed;
    char* bundle_path; // holds the page and the browser's loader or helper

    LV2UI_Write_Function write;
    LV2UI_Controller controller;

    bool has_touch;
    LV2UI_Touch touch;

    // A host may clean the UI up from inside its own write or touch function: the UI
    // is then freed once the outermost of its calls into the host has returned.
    int host_calls;
    bool cleaned_up;
};

// ---------------------------------------------------------------------------------
// Values between page and ports

// The bypass parameter and the enable port have opposite senses; the same
// conversion serves both directions.
static float invert_toggle(float x) {
    return x > 0.0f ? 0.0f : 1.0f;
}

// A value crossing between parameter `param` and its port: bypass and enable
// inverted, then clamped to 0..maximum. A NaN or infinite value is refused (false):
// the inversion would turn a NaN into "bypassed".
static bool cross_value(uint32_t param, float x, float* out) {
    if (!std::isfinite(x)) return false;
    if (param == PARAM_BYPASS) x = invert_toggle(x);
    const float hi = static_cast<float>(kParams[param].max);
    *out = x < 0.0f ? 0.0f : (x > hi ? hi : x);
    return true;
}

// ---------------------------------------------------------------------------------
// Page to host: the editor's edit callbacks

enum class Gesture { begin, perform, end };

static void free_ui(EmberpressUi* ui);

// A host without a write function gets nothing, not even the touch notifications. A
// host that cleans the UI up from inside one of these calls gets no further call.
static void write_control(EmberpressUi* ui, uint32_t param, float value, Gesture gesture) {
    if (!ui->write || param >= kParamCount || !cross_value(param, value, &value)) return;
    const uint32_t port = param + kFirstControlPort;
    ++ui->host_calls;
    if (gesture == Gesture::begin && ui->has_touch) ui->touch.touch(ui->touch.handle, port, true);
    if (!ui->cleaned_up) ui->write(ui->controller, port, sizeof value, 0, &value);
    if (gesture == Gesture::end && ui->has_touch && !ui->cleaned_up)
        ui->touch.touch(ui->touch.handle, port, false);
    if (--ui->host_calls == 0 && ui->cleaned_up) free_ui(ui);
}

static void begin_edit(void* user, uint32_t param, float value) {
    write_control(static_cast<EmberpressUi*>(user), param, value, Gesture::begin);
}

static void perform_edit(void* user, uint32_t param, float value) {
    write_control(static_cast<EmberpressUi*>(user), param, value, Gesture::perform);
}

static void end_edit(void* user, uint32_t param, float value) {
    write_control(static_cast<EmberpressUi*>(user), param, value, Gesture::end);
}

static const char* bundle_folder(void* user) {
    return static_cast<EmberpressUi*>(user)->bundle_path;
}

// ---------------------------------------------------------------------------------
// Lifecycle

// The bundle path without its trailing separators (LV2 hosts pass one), so that the
// editor's "folder\file" paths come out plain.
static char* folder_copy(const char* path) {
    if (!path) return nullptr;
    char* copy = strdup(path);
    if (!copy) return nullptr;
    size_t n = strlen(copy);
    while (n > 0 && (copy[n - 1] == '\\' || copy[n - 1] == '/')) copy[--n] = '\0';
    return copy;
}

static void free_ui(EmberpressUi* ui) {
    free(ui->bundle_path);
    delete ui;
}

static LV2UI_Handle instantiate(const LV2UI_Descriptor*, const char*, const char* bundle_path,
                                LV2UI_Write_Function write, LV2UI_Controller controller,
                                LV2UI_Widget* widget, const LV2_Feature* const* features) {
    if (widget) *widget = nullptr;
    EmberpressUi* ui = new (std::nothrow) EmberpressUi();
    if (!ui) return nullptr;
    ui->bundle_path = folder_copy(bundle_path);
    if (!ui->bundle_path) {
        free_ui(ui);
        return nullptr;
    }

    LV2_Log_Log* log = nullptr;
    LV2_URID_Map* map = nullptr;
    const char* missing = lv2_features_query(features, LV2_LOG__log, (void**)&log, false,
                                             LV2_URID__map, (void**)&map, true, nullptr);
    LV2_Log_Logger logger;
    lv2_log_logger_init(&logger, map, log);
    if (missing) lv2_log_error(&logger, "Missing feature <%s>\n", missing);

    // The last occurrence of a feature counts. A touch feature without its function
    // counts as absent: there would be nothing to call.
    void* parent = nullptr;
    const LV2UI_Touch* touch = nullptr;
    for (const LV2_Feature* const* f = features; f && *f; ++f) {
        if (!strcmp((*f)->URI, LV2_UI__parent)) parent = (*f)->data;
        if (!strcmp((*f)->URI, LV2_UI__touch)) touch = static_cast<const LV2UI_Touch*>((*f)->data);
    }
    ui->has_touch = touch && touch->touch;
    if (ui->has_touch) ui->touch = *touch;

    ui->write = write;
    ui->controller = controller;

    // Inside the host's window when it gave one, else as a window of its own (Windows).
    const editor_callbacks callbacks = {ui,         "lv2",        bundle_folder, bundle_folder,
                                        begin_edit, perform_edit, end_edit};
    const lv2_ui_size size = lv2_ui_size_for_host(features, map);
    ui->ed = editor_create(parent != nullptr, parent, callbacks, kestrel_handle_message, size.width,
                           size.height, kParamCount, size.sizing);
    if (!ui->ed) {
        free_ui(ui);
        return nullptr;
    }
    lv2_ui_ask_host_for_room(features, size);
    if (widget) *widget = editor_window(ui->ed);
    return ui;
}

// From inside a write or touch call the editor and the UI finish closing once that
// call has returned (see write_control).
static void cleanup(LV2UI_Handle handle) {
    EmberpressUi* ui = static_cast<EmberpressUi*>(handle);
    editor_destroy(ui->ed);
    ui->ed = nullptr;
    if (ui->host_calls > 0)
        ui->cleaned_up = true;
    else
        free_ui(ui);
}

// ---------------------------------------------------------------------------------
// Host to page

// A control port's new value. Only a plain float (format 0) on ports 2 to 7 is
// taken; an event without one is ignored rather than read past its buffer.
static void port_event(LV2UI_Handle handle, uint32_t port, uint32_t buffer_size, uint32_t format,
                       const void* buffer) {
    EmberpressUi* ui = static_cast<EmberpressUi*>(handle);
    if (port < kFirstControlPort || port >= PORT_COUNT) return;
    if (format != 0 || !buffer || buffer_size < sizeof(float)) return;
    float value;
    memcpy(&value, buffer, sizeof value);
    const uint32_t param = port - kFirstControlPort;
    if (cross_value(param, value, &value)) editor_set_parameter(ui->ed, param, value);
}

// The host's periodic call: the X11 editor takes the helper's messages here (the
// Windows editor runs its own message loop and has nothing to do). The UI never
// reports itself closed.
static int idle(LV2UI_Handle handle) {
    editor_idle(static_cast<EmberpressUi*>(handle)->ed);
    return 0;
}

static const LV2UI_Idle_Interface idle_interface = {idle};

static const void* extension_data(const char* uri) {
    if (uri && !strcmp(uri, LV2_UI__idleInterface)) return &idle_interface;
    return nullptr;
}

// ---------------------------------------------------------------------------------
// Descriptor

static const LV2UI_Descriptor ui_descriptor = {
    EMBERPRESS_UI_URI, instantiate, cleanup, port_event, extension_data,
};

LV2_SYMBOL_EXPORT const LV2UI_Descriptor* lv2ui_descriptor(uint32_t index) {
    return index == 0 ? &ui_descriptor : nullptr;
}
