// The news store: a few small per-user text files that every open editor, in one host
// or several, reads and updates on the page's command. The store does not interpret
// the contents; it reads whole files, writes whole files, and swaps a record only
// when its first 8 bytes (the record's version tag) are what the page expects. Every
// file operation holds an exclusive lock on the whole file, which also orders
// different processes.
//
// Files, under the store folder "%APPDATA%\Fernwood":
//   kestrel-system     the page's identifier (sid)
//   kestrel-news       the news record
//   PRODUCT\latest     the latest record of one product
// Files are text mode: a line feed is stored as CR LF and read back as a line feed.
//
// Windows only (Win32 locks and the C library's wide file functions).
#pragma once

#include <cstddef>
#include <initializer_list>

// Where replies go: sends one reply text (the caller adds nothing).
using kestrel_reply_fn = void (*)(void* context, const char* text);

// Runs one page command (the text of an "m" page message, after "m ") and sends its
// replies through `reply` with `context`. The commands, tested in this order:
//   "kestrelV1 init PRODUCT"            replies "kestrelV1 initSid " + sid,
//                                       "kestrelV1 initNews " + news,
//                                       "kestrelV1 initLatest " + that product's latest
//                                       (each only when its file exists), then always
//                                       "kestrelV1 initDone "
//   "kestrelV1 getNews ..."             replies "kestrelV1 getNews " + news (bare when absent)
//   "kestrelV1 newSid SID"              writes the sid
//   "kestrelV1 syncNews PAYLOAD"        swaps the news; on conflict replies
//                                       "kestrelV1 syncNewsConflict " + current news
//   "kestrelV1 syncLatest PRODUCT PAYLOAD"   the same for a product's latest
//                                       ("kestrelV1 syncLatestConflict " + current)
//   "kestrelV1 syncNewsForce CONTENT"   writes the news
//   "kestrelV1 syncLatestForce PRODUCT CONTENT"  writes a product's latest
// PAYLOAD is "-", one separator character and the content (the file must be empty or
// missing), or an 8-byte expected tag, one separator character and the content.
// Any other text is ignored.
//
// Refused without effect or reply: a PRODUCT that is not one plain folder name (empty,
// ending in a dot or a space, which includes "." and "..", or holding "\", "/", ":"
// or a control character), a PRODUCT not followed by a space, and a PAYLOAD shorter
// than its tag and separator.
// A file that cannot be named (no APPDATA, text that is not UTF-8) reads as missing,
// so "init" still ends with "kestrelV1 initDone "; writes and swaps to it do nothing.
void kestrel_handle_message(const char* text, kestrel_reply_fn reply, void* context);

// --- File operations under the commands ------------------------------------------
// Path components are UTF-8 texts relative to the store folder; heap results are
// released with free().

// "%APPDATA%\Fernwood" followed by "\component" for each component (all but the last
// when directory_only). NULL when APPDATA is unset or empty, or a component is null,
// empty or not UTF-8.
wchar_t* kestrel_build_path(bool directory_only, std::initializer_list<const char*> components);

// Length of the root of a Windows path, which cannot be created: "C:", "\\server\share",
// "\\?\C:", "\\?\UNC\server\share" (or "\\." for "\\?"), "\\?\VOLUME"; 0 for others.
// The separator after the root is not counted.
size_t kestrel_path_root_length(const wchar_t* path);

// Creates every missing folder of the built path (or of its directory-only form).
// 0, or -1 when the path cannot be built or a folder cannot be created.
int kestrel_make_directories(bool directory_only, std::initializer_list<const char*> components);

// Reads a whole file under its lock (waiting for it). 0 with *content a heap text, or
// 0 with *content NULL when the file does not exist or cannot be named; -1 on failure.
int kestrel_read_file(char** content, std::initializer_list<const char*> components);

// Replaces a whole file's content under its lock, creating folders and file as needed.
// The old content stays intact until the lock is held. 0, or -1 on failure.
int kestrel_write_file(const char* content, std::initializer_list<const char*> components);

// Compare-and-swap of the file `file_name` in the store folder (product NULL) or in the
// product's folder, as described for "syncNews" above. On conflict sends
// "kestrelV1 " + conflict_word + " " + current content. Failures are silent.
void kestrel_sync_file(kestrel_reply_fn reply, void* context, const char* product,
                       const char* file_name, const char* payload, const char* conflict_word);

// The concatenation of the texts (null entries are skipped), as a heap text; NULL when
// the heap is exhausted.
char* join_texts(std::initializer_list<const char*> texts);
