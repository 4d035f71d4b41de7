// The page's "kestrelV1" commands: parse, check what the page names, and run the file
// operations that answer them.
#include <cstring>

#include "kestrel/kestrel.h"
#include "kestrel/kestrel_heap.h"

char* join_texts(std::initializer_list<const char*> texts) {
    size_t total = 0;
    for (const char* t : texts)
        if (t) total += strlen(t);
    char* joined = static_cast<char*>(malloc(total + 1));
    if (!joined) return nullptr;
    char* end = joined;
    for (const char* t : texts) {
        if (!t) continue;
        size_t n = strlen(t);
        memcpy(end, t, n);
        end += n;
    }
    *end = '\0';
    return joined;
}

// A product name becomes one folder under the store folder, so it must be a single
// plain name: nothing that climbs out, names a drive or stream, or cannot be shown.
// Win32 drops a name's trailing dots and spaces, so such a name (and one made only of
// dots) would not name a folder of its own.
static bool product_name_ok(const char* name) {
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
static HeapPtr<char> split_product(const char* text, const char** rest) {
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

// Sends prefix + content. False when the reply could not be made.
static bool send_joined(kestrel_reply_fn reply, void* context, const char* prefix,
                        const char* content) {
    HeapPtr<char> text(join_texts({prefix, content}));
    if (!text) return false;
    reply(context, text.get());
    return true;
}

static void handle_init(kestrel_reply_fn reply, void* context, const char* product) {
    if (!product_name_ok(product)) return;
    char* read[3] = {};
    bool ok = kestrel_read_file(&read[0], {"kestrel-system"}) == 0 &&
              kestrel_read_file(&read[1], {"kestrel-news"}) == 0 &&
              kestrel_read_file(&read[2], {product, "latest"}) == 0;
    HeapPtr<char> sid(read[0]), news(read[1]), latest(read[2]);
    if (!ok) return;
    if (sid && !send_joined(reply, context, "kestrelV1 initSid ", sid.get())) return;
    if (news && !send_joined(reply, context, "kestrelV1 initNews ", news.get())) return;
    if (latest && !send_joined(reply, context, "kestrelV1 initLatest ", latest.get())) return;
    reply(context, "kestrelV1 initDone ");
}

static void handle_get_news(kestrel_reply_fn reply, void* context) {
    char* read = nullptr;
    if (kestrel_read_file(&read, {"kestrel-news"}) != 0) return;
    HeapPtr<char> news(read);
    send_joined(reply, context, "kestrelV1 getNews ", news.get());
}

// The rest of the text after the prefix, or NULL when the text does not start with it.
static const char* after(const char* text, const char* prefix) {
    size_t n = strlen(prefix);
    return strncmp(text, prefix, n) == 0 ? text + n : nullptr;
}

void kestrel_handle_message(const char* text, kestrel_reply_fn reply, void* context) {
    const char* rest;
    if ((rest = after(text, "kestrelV1 init "))) {
        handle_init(reply, context, rest);
    } else if ((rest = after(text, "kestrelV1 getNews "))) {
        handle_get_news(reply, context);
    } else if ((rest = after(text, "kestrelV1 newSid "))) {
        kestrel_write_file(rest, {"kestrel-system"});
    } else if ((rest = after(text, "kestrelV1 syncNews "))) {
        kestrel_sync_file(reply, context, nullptr, "kestrel-news", rest, "syncNewsConflict");
    } else if ((rest = after(text, "kestrelV1 syncLatest "))) {
        const char* payload;
        if (HeapPtr<char> product = split_product(rest, &payload))
            kestrel_sync_file(reply, context, product.get(), "latest", payload,
                              "syncLatestConflict");
    } else if ((rest = after(text, "kestrelV1 syncNewsForce "))) {
        kestrel_write_file(rest, {"kestrel-news"});
    } else if ((rest = after(text, "kestrelV1 syncLatestForce "))) {
        const char* content;
        if (HeapPtr<char> product = split_product(rest, &content))
            kestrel_write_file(content, {product.get(), "latest"});
    }
}
