// The page's "kestrelV1" commands: parse, check what the page names, run the file
// operations that answer them and turn what they return into replies.
#include <cstring>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"

namespace {

// Where the replies of one command go.
struct Replies {
    kestrel_reply_fn reply;
    void* context;

    // Sends the concatenation of the texts. False when it could not be made.
    bool send(std::initializer_list<const char*> texts) const {
        size_t total = 0;
        for (const char* t : texts) total += strlen(t);
        HeapPtr<char> joined(static_cast<char*>(malloc(total + 1)));
        if (!joined) return false;
        char* end = joined.get();
        for (const char* t : texts) {
            size_t n = strlen(t);
            memcpy(end, t, n);
            end += n;
        }
        *end = '\0';
        reply(context, joined.get());
        return true;
    }
};

// A product name becomes one folder under the store folder, so it must be a single
// plain name: nothing that climbs out, names a drive or stream, or cannot be shown.
// Win32 drops a name's trailing dots and spaces, so such a name (and one made only of
// dots) would not name a folder of its own; the same names are refused everywhere so
// that a store means the same on every platform.
bool product_name_ok(const char* name) {
    size_t n = strlen(name);
    if (n == 0 || name[n - 1] == '.' || name[n - 1] == ' ') return false;
    for (const char* c = name; *c; ++c) {
        unsigned char u = static_cast<unsigned char>(*c);
        if (u < 0x20 || u == 0x7F || u == '\\' || u == '/' || u == ':') return false;
    }
    return true;
}

// Splits "PRODUCT REST" at the first space: a heap copy of the product name (NULL when
// there is no space, the name is not acceptable or the heap is exhausted) and REST.
HeapPtr<char> split_product(const char* text, const char** rest) {
    const char* space = strchr(text, ' ');
    if (!space) return nullptr;
    size_t n = size_t(space - text);
    HeapPtr<char> name(static_cast<char*>(malloc(n + 1)));
    if (!name) return nullptr;
    memcpy(name.get(), text, n);
    name.get()[n] = '\0';
    if (!product_name_ok(name.get())) return nullptr;
    *rest = space + 1;
    return name;
}

void handle_init(const Replies& to, const char* product) {
    if (!product_name_ok(product)) return;
    char* read[3] = {};
    bool ok = kestrel_read_file(&read[0], {"kestrel-system"}) == 0 &&
              kestrel_read_file(&read[1], {"kestrel-news"}) == 0 &&
              kestrel_read_file(&read[2], {product, "latest"}) == 0;
    HeapPtr<char> sid(read[0]), news(read[1]), latest(read[2]);
    if (!ok) return;
    if (sid && !to.send({"kestrelV1 initSid ", sid.get()})) return;
    if (news && !to.send({"kestrelV1 initNews ", news.get()})) return;
    if (latest && !to.send({"kestrelV1 initLatest ", latest.get()})) return;
    to.reply(to.context, "kestrelV1 initDone ");
}

void handle_get_news(const Replies& to) {
    char* read = nullptr;
    if (kestrel_read_file(&read, {"kestrel-news"}) != 0) return;
    HeapPtr<char> news(read);
    to.send({"kestrelV1 getNews ", news ? news.get() : ""});
}

// A swap that found another record replies with it.
void handle_sync(const Replies& to, const char* payload, const char* conflict_word,
                 std::initializer_list<const char*> components) {
    char* read = nullptr;
    if (kestrel_sync_file(&read, payload, components) != 1) return;
    HeapPtr<char> current(read);
    to.send({"kestrelV1 ", conflict_word, " ", current.get()});
}

// The rest of the text after the prefix, or NULL when the text does not start with it.
const char* after(const char* text, const char* prefix) {
    size_t n = strlen(prefix);
    return strncmp(text, prefix, n) == 0 ? text + n : nullptr;
}

} // namespace

void kestrel_handle_message(const char* text, kestrel_reply_fn reply, void* context) {
    const Replies to = {reply, context};
    const char* rest;
    if ((rest = after(text, "kestrelV1 init "))) {
        handle_init(to, rest);
    } else if ((rest = after(text, "kestrelV1 getNews "))) {
        handle_get_news(to);
    } else if ((rest = after(text, "kestrelV1 newSid "))) {
        kestrel_write_file(rest, {"kestrel-system"});
    } else if ((rest = after(text, "kestrelV1 syncNews "))) {
        handle_sync(to, rest, "syncNewsConflict", {"kestrel-news"});
    } else if ((rest = after(text, "kestrelV1 syncLatest "))) {
        const char* payload;
        if (HeapPtr<char> product = split_product(rest, &payload))
            handle_sync(to, payload, "syncLatestConflict", {product.get(), "latest"});
    } else if ((rest = after(text, "kestrelV1 syncNewsForce "))) {
        kestrel_write_file(rest, {"kestrel-news"});
    } else if ((rest = after(text, "kestrelV1 syncLatestForce "))) {
        const char* content;
        if (HeapPtr<char> product = split_product(rest, &content))
            kestrel_write_file(content, {product.get(), "latest"});
    }
}
