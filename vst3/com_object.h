// The FUnknown side of the module's objects, written once: finding the object from
// any of its interface pointers, the reference count, and the query, add-ref and
// release slots that every interface table starts with.
//
// An object derives from ComObject<Object, I1, I2, ...>, naming the interfaces it
// offers; I1 also answers for FUnknown. For each interface it holds one interface
// record (the pointer to that interface's table, set once with set_tables); the
// interface pointers handed to the host point at these records, and every slot of
// every interface reaches the one object through them. The tables themselves start
// with kUnknownSlots<I>.
//
// The count starts at 1 (the creator's reference) and is atomic: hosts add and drop
// references from any thread. The release that takes it to 0 calls
// Object::destroy(object), which frees the object.
#pragma once

#include <atomic>
#include <cstdint>

#include "vst3/vst3_abi.h"

namespace vst3 {

// One interface record of an object. Standard layout, so a pointer to the record and
// a pointer to its `iface` are the same address and convert into each other.
template <class I>
struct ComRecord {
    I iface;
};

template <class Object, class First, class... Others>
struct ComObject : ComRecord<First>, ComRecord<Others>... {
    std::atomic<int32_t> ref_count{1};

    // Points the interface records at their tables, given in the order of the interfaces.
    void set_tables(decltype(First::vtbl) first, decltype(Others::vtbl)... others) {
        static_cast<ComRecord<First>*>(this)->iface.vtbl = first;
        ((static_cast<ComRecord<Others>*>(this)->iface.vtbl = others), ...);
    }

    // The interface pointer the host is given for I.
    template <class I>
    I* as() {
        return &static_cast<ComRecord<I>*>(this)->iface;
    }

    // The object behind one of its interface pointers.
    template <class I>
    static Object* of(I* iface) {
        return static_cast<Object*>(reinterpret_cast<ComRecord<I>*>(iface));
    }

    uint32_t add_ref() { return uint32_t(ref_count.fetch_add(1, std::memory_order_relaxed) + 1); }

    // Every write to the object happens before the release that frees it.
    uint32_t release() {
        const int32_t count = ref_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) Object::destroy(static_cast<Object*>(this));
        return uint32_t(count);
    }

    tresult query_interface(const char* iid, void** obj) {
        if (!obj) return kInvalidArgument;
        *obj = !iid                           ? nullptr
               : uid_equal(iid, kFUnknownIid) ? as<First>()
                                              : answering<First, Others...>(iid);
        if (!*obj) return kNoInterface;
        add_ref();
        return kResultOk;
    }

    // The FUnknown slots of interface I's table.
    template <class I>
    static constexpr UnknownSlots<I> kUnknownSlots = {
        [](I* i, const char* iid, void** obj) { return of(i)->query_interface(iid, obj); },
        [](I* i) { return of(i)->add_ref(); },
        [](I* i) { return of(i)->release(); },
    };

  private:
    // The pointer of the first of the interfaces that answers to the ID, or null.
    template <class I, class... Rest>
    void* answering(const char* iid) {
        for (const Uid* answered : I::kIids)
            if (uid_equal(iid, *answered)) return as<I>();
        if constexpr (sizeof...(Rest) > 0)
            return answering<Rest...>(iid);
        else
            return nullptr;
    }
};

} // namespace vst3
