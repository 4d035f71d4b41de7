// The news store: a few small per-user text files that every open editor, in one host
// or several, reads and updates on the page's command. The store does not interpret
// the contents; it reads whole files, writes whole files, and swaps a record only
// when its first 8 bytes (the record's version tag) are what the page expects. Every
// file operation holds an exclusive lock on the whole file, which orders different
// processes and different editors of one process alike.
//
// Files, under the store folder:
//   kestrel-system     the page's identifier (sid)
//   kestrel-news       the news record
//   PRODUCT/latest     the latest record of one product
// The store folder and how files are stored depend on the platform:
//   Windows  "%APPDATA%\Fernwood"; files in text mode (a line feed is stored as CR LF
//            and read back as a line feed)
//   Linux    "$XDG_DATA_HOME/Fernwood", or "$HOME/.local/share/Fernwood" when
//            XDG_DATA_HOME is unset, empty or not an absolute path; files hold exactly
//            the bytes given
#pragma once

#include <initializer_list>

// Hands one reply text to whoever asked (the editor sends it to the page behind "m ").
using kestrel_reply_fn = void (*)(void* context, const char* text);

// Runs one page command (the text of an "m" page message, after "m ") and hands each
// reply to reply(context, text) before it returns. The commands, tested in this order:
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
// Refused without effect or reply, on every platform: a PRODUCT that is not one plain
// folder name (empty, ending in a dot or a space, which includes "." and "..", or
// holding "\", "/", ":" or a control character), a PRODUCT not followed by a space,
// and a PAYLOAD shorter than its tag and separator.
// A file that cannot be named (no store folder, a name that is not UTF-8) or whose
// folder is missing reads as missing, so "init" still ends with "kestrelV1 initDone ";
// writes and swaps to it do nothing.
void kestrel_handle_message(const char* text, kestrel_reply_fn reply, void* context);

// --- File operations under the commands ------------------------------------------
// They send nothing: they return what they found. Path components are UTF-8 texts
// relative to the store folder; heap results are released with free().

// Creates every missing folder of the store path of the components (all but the last
// when directory_only). 0, or -1 when the path cannot be named or a folder cannot be
// created.
int kestrel_make_directories(bool directory_only, std::initializer_list<const char*> components);

// Reads a whole file under its lock (waiting for it). 0 with *content a heap text, or
// 0 with *content NULL when the file does not exist or cannot be named; -1 on failure.
int kestrel_read_file(char** content, std::initializer_list<const char*> components);

// Replaces a whole file's content under its lock, creating folders and file as needed.
// The old content stays intact until the lock is held. 0, or -1 on failure.
int kestrel_write_file(const char* content, std::initializer_list<const char*> components);

// Compare-and-swap of a whole file with a PAYLOAD as described for "syncNews" above,
// the comparison made under the file's lock. 0 when the content was swapped in;
// 1 on conflict, with *current the file's whole content (a heap text); -1 when the
// payload is short or the file cannot be named, created, locked or written.
int kestrel_sync_file(char** current, const char* payload,
                      std::initializer_list<const char*> components);
