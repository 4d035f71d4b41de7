// The edit controller: describes the six parameters to the host, converts between
// normalized, plain and text values, keeps its own plain copy of every parameter and
// reads the processor's saved state when the host hands it over. It never talks to the
// processor directly; values travel through the host. It also creates the plug views,
// keeps a list of them, shows the host's changes on their pages and turns the pages'
// edits into the host's begin/perform/end-edit calls.
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vst3/com_object.h"
#include "vst3/emberpress_vst3.h"
#include "vst3/view.h"

using namespace vst3;

struct Vst3Controller : ComObject<Vst3Controller, IEditController, IMidiMapping, IConnectionPoint> {
    FUnknown* host_context; // no reference held
    double plain_values[kParamCount];
    IComponentHandler* handler; // one reference held
    // Every view createView made and not yet destroyed; a null entry is a free slot.
    // The list grows by one slot when full and never shrinks.
    Vst3View** view_slots;
    uint64_t view_slot_count;

    // The views belong to the host, which holds their references. One the host still
    // holds when the controller goes is closed and cut loose: it stays valid for the
    // host's own removed and release, and its page can no longer edit anything.
    static void destroy(Vst3Controller* c) {
        for (uint64_t s = 0; s < c->view_slot_count; ++s)
            if (c->view_slots[s]) vst3_view_forget_controller(c->view_slots[s]);
        if (c->handler) c->handler->vtbl->unknown.release(c->handler);
        std::free(c->view_slots);
        delete c;
    }
};

namespace {

template <class I>
Vst3Controller* self(I* i) {
    return Vst3Controller::of(i);
}

// --- Values ------------------------------------------------------------------------

// Shows a parameter's stored value on every open page, in list order. The list is read
// afresh at each step: showing a value lets relayed page edits run, and the host may
// create or release views from inside them.
void show_in_views(Vst3Controller* c, int index) {
    const float value = float(c->plain_values[index]);
    for (uint64_t s = 0; s < c->view_slot_count; ++s)
        if (Vst3View* view = c->view_slots[s]) vst3_view_show_value(view, uint32_t(index), value);
}

// A UTF-16 text of at most 127 characters and its terminator.
struct TextOut {
    char16* at;
    int used = 0;
    void put(char ch) {
        if (used < 127) at[used++] = char16(ch);
        at[used] = 0;
    }
    void put(const char* text) {
        while (*text) put(*text++);
    }
};

// The plain value with two decimals, every digit truncated (28.999... shows 28.99).
void write_plain(TextOut& out, double d) {
    if (std::isnan(d)) return out.put("nan");
    if (std::isinf(d)) return out.put(d < 0 ? "-inf" : "inf");
    // Past 15 integer digits the digits say nothing and would not fit the text.
    if (std::fabs(d) >= 1e15) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2e", d);
        return out.put(text);
    }
    auto digit_of = [](double x) {
        const int digit = int(x);
        return digit < 0 ? 0 : digit > 9 ? 9 : digit;
    };
    if (d < 0) {
        out.put('-');
        d = -d;
    }
    if (d < 1) {
        out.put('0');
    } else {
        double f = 1;
        while (d >= f) f *= 10;
        f *= 0.1;
        while (f >= 1) {
            const int digit = digit_of(d / f);
            out.put(char('0' + digit));
            d -= digit * f;
            f *= 0.1;
        }
    }
    out.put('.');
    int digit = digit_of(d / 0.1);
    out.put(char('0' + digit));
    d -= digit * 0.1;
    digit = digit_of(d / 0.010000000000000002);
    out.put(char('0' + digit));
}

// --- IEditController ---------------------------------------------------------------

tresult initialize(IEditController* i, FUnknown* context) {
    Vst3Controller* c = self(i);
    if (c->host_context) return kResultFalse;
    c->host_context = context;
    for (int k = 0; k < kParamCount; ++k) c->plain_values[k] = kParams[k].def;
    return kResultOk;
}

tresult terminate(IEditController* i) {
    self(i)->host_context = nullptr;
    return kResultOk;
}

tresult set_component_state(IEditController* i, IBStream* stream) {
    float stored[kParamCount];
    if (!vst3_read_state(stream, stored)) return kResultFalse;
    Vst3Controller* c = self(i);
    for (int k = 0; k < kParamCount; ++k) c->plain_values[k] = param_store_plain(k, stored[k]);
    for (int k = 0; k < kParamCount; ++k) show_in_views(c, k);
    return kResultOk;
}

// The controller has no state of its own.
tresult set_state(IEditController*, IBStream*) {
    return kNotImplemented;
}
tresult get_state(IEditController*, IBStream*) {
    return kNotImplemented;
}

int32_t get_parameter_count(IEditController*) {
    return kParamCount;
}

tresult get_parameter_info(IEditController*, int32_t index, ParameterInfo* info) {
    if (uint32_t(index) >= uint32_t(kParamCount)) return kResultFalse;
    if (!info) return kInvalidArgument;
    const ParamInfo& row = kParams[index];
    *info = ParameterInfo{};
    info->id = row.vst3_id;
    vst3_put_text(info->title, row.title);
    vst3_put_text(info->shortTitle, row.title);
    vst3_put_text(info->units, row.units);
    info->stepCount = row.step_count;
    info->defaultNormalizedValue = param_to_normalized(index, row.def);
    info->unitId = kRootUnitId;
    info->flags = row.vst3_flags;
    return kResultOk;
}

tresult get_param_string_by_value(IEditController*, ParamID id, ParamValue value, char16* string) {
    const int index = param_index_from_vst3_id(id);
    if (index < 0) return kResultFalse;
    if (!string) return kInvalidArgument;
    TextOut out{string};
    out.at[0] = 0;
    write_plain(out, param_to_plain(index, value));
    return kResultOk;
}

// Leading digits only: "50.75" reads as 50, "100%" as 100, "abc" as 0.
tresult get_param_value_by_string(IEditController*, ParamID id, char16* string,
                                  ParamValue* normalized) {
    const int index = param_index_from_vst3_id(id);
    if (index < 0) return kResultFalse;
    if (!string || !normalized) return kInvalidArgument;
    const char16* s = string;
    const bool negative = *s == u'-';
    if (negative) ++s;
    double value = 0;
    for (; *s >= u'0' && *s <= u'9'; ++s) value = value * 10 + double(*s - u'0');
    *normalized = param_to_normalized(index, negative ? -value : value);
    return kResultOk;
}

// An unknown identifier has no range: the value comes back as it went in.
ParamValue normalized_param_to_plain(IEditController*, ParamID id, ParamValue value) {
    const int index = param_index_from_vst3_id(id);
    return index < 0 ? value : param_to_plain(index, value);
}

ParamValue plain_param_to_normalized(IEditController*, ParamID id, ParamValue plain) {
    const int index = param_index_from_vst3_id(id);
    return index < 0 ? plain : param_to_normalized(index, plain);
}

ParamValue get_param_normalized(IEditController* i, ParamID id) {
    const int index = param_index_from_vst3_id(id);
    return index < 0 ? 0.0 : param_to_normalized(index, self(i)->plain_values[index]);
}

tresult set_param_normalized(IEditController* i, ParamID id, ParamValue value) {
    const int index = param_index_from_vst3_id(id);
    if (index < 0) return kResultFalse;
    // A non-finite value has no place in the range; the processor ignores it too.
    if (!std::isfinite(value)) return kInvalidArgument;
    Vst3Controller* c = self(i);
    c->plain_values[index] = param_store_plain(index, param_to_plain(index, value));
    show_in_views(c, index);
    return kResultOk;
}

tresult set_component_handler(IEditController* i, IComponentHandler* handler) {
    Vst3Controller* c = self(i);
    if (handler == c->handler) return kResultOk;
    if (handler) handler->vtbl->unknown.addRef(handler);
    if (c->handler) c->handler->vtbl->unknown.release(c->handler);
    c->handler = handler;
    return kResultOk;
}

// A view of the editor, entered in the first free slot of the list (or a new one).
IPlugView* create_view(IEditController* i, FIDString name) {
    if (!name || std::strcmp(name, "editor") != 0) return nullptr;
    Vst3Controller* c = self(i);
    Vst3View* view = vst3_view_new(c);
    if (!view) return nullptr;
    uint64_t slot = 0;
    while (slot < c->view_slot_count && c->view_slots[slot]) ++slot;
    if (slot == c->view_slot_count) {
        auto* grown = static_cast<Vst3View**>(
            std::realloc(c->view_slots, size_t(c->view_slot_count + 1) * sizeof(Vst3View*)));
        if (!grown) {
            vst3_view_release(view);
            return nullptr;
        }
        c->view_slots = grown;
        c->view_slots[c->view_slot_count++] = nullptr;
    }
    c->view_slots[slot] = view;
    return vst3_view_interface(view);
}

constexpr IEditControllerVtbl kEditVtbl = {
    Vst3Controller::kUnknownSlots<IEditController>,
    initialize,
    terminate,
    set_component_state,
    set_state,
    get_state,
    get_parameter_count,
    get_parameter_info,
    get_param_string_by_value,
    get_param_value_by_string,
    normalized_param_to_plain,
    plain_param_to_normalized,
    get_param_normalized,
    set_param_normalized,
    set_component_handler,
    create_view,
};

// --- IMidiMapping -----------------------------------------------------------------

tresult get_midi_controller_assignment(IMidiMapping*, int32_t, int16_t, CtrlNumber, ParamID*) {
    return kInvalidArgument;
}

constexpr IMidiMappingVtbl kMidiVtbl = {
    Vst3Controller::kUnknownSlots<IMidiMapping>,
    get_midi_controller_assignment,
};

} // namespace

void vst3_controller_edit(Vst3Controller* c, EditStep step, uint32_t index, float value) {
    if (!c || index >= uint32_t(kParamCount)) return;
    const double plain = param_store_plain(int(index), double(value));
    c->plain_values[index] = plain;
    IComponentHandler* h = c->handler;
    if (!h) return;
    const ParamID id = kParams[index].vst3_id;
    const double normalized = param_to_normalized(int(index), plain);
    // The host may replace its handler from inside these calls; this one stays valid.
    h->vtbl->unknown.addRef(h);
    if (step == EditStep::begin) h->vtbl->beginEdit(h, id);
    h->vtbl->performEdit(h, id, normalized);
    if (step == EditStep::end) h->vtbl->endEdit(h, id);
    h->vtbl->unknown.release(h);
}

float vst3_controller_plain_value(const Vst3Controller* c, uint32_t index) {
    if (index >= uint32_t(kParamCount)) return 0;
    return c ? float(c->plain_values[index]) : kParamDefaults[index];
}

FUnknown* vst3_controller_host_context(const Vst3Controller* c) {
    return c ? c->host_context : nullptr;
}

void vst3_controller_forget_view(Vst3Controller* c, const Vst3View* view) {
    for (uint64_t s = 0; s < c->view_slot_count; ++s) {
        if (c->view_slots[s] == view) {
            c->view_slots[s] = nullptr;
            return;
        }
    }
}

IEditController* vst3_controller_new() {
    Vst3Controller* c = new (std::nothrow) Vst3Controller{};
    if (!c) return nullptr;
    c->set_tables(&kEditVtbl, &kMidiVtbl, &kIdleConnectionVtbl<Vst3Controller>);
    return c->as<IEditController>();
}
