// emberpress-news: runs news store commands from the command line, for support and
// for tests that share the store between several processes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

#include "kestrel/kestrel.h"

static const char kUsage[] =
    "usage: emberpress-news COMMAND...\n"
    "\n"
    "Runs news store commands in order, each exactly as the editor page sends it\n"
    "(the text of an \"m\" page message after \"m \"), and prints every reply.\n"
    "Give each command as one argument, for example:\n"
    "  emberpress-news \"kestrelV1 init emberpress\" \"kestrelV1 getNews \"\n"
    "\n"
    "The store is the folder Fernwood in the folder named by APPDATA.\n"
    "Each reply is printed as it stands, followed by one line feed. A reply whose\n"
    "content holds line feeds therefore spans several lines; every reply begins\n"
    "with \"kestrelV1 \". Line feeds are never printed as CR LF.\n"
    "\n"
    "Exit status: 0 when the commands ran (a command the store refuses prints\n"
    "nothing; a conflict prints its reply); 2 when an argument is not a news store\n"
    "command or not valid text, in which case no command is run.\n";

// Replies go straight to standard output.
static void print_reply(void* out, const char* text) {
    fwrite(text, 1, strlen(text), static_cast<FILE*>(out));
    fputc('\n', static_cast<FILE*>(out));
}

// UTF-8 of an argument; false when it holds an unpaired surrogate.
static bool to_utf8(const wchar_t* wide, std::string& out) {
    int n =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(size_t(n));
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out.data(), n, nullptr, nullptr);
    out.resize(size_t(n - 1));
    return true;
}

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY); // replies byte for byte
    if (argc == 2 && (wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2) {
        fputs(kUsage, stderr);
        return 2;
    }

    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        std::string text;
        if (!to_utf8(argv[i], text)) {
            fprintf(stderr, "emberpress-news: argument %d is not valid text; nothing was run\n", i);
            return 2;
        }
        if (text.rfind("kestrelV1 ", 0) != 0) {
            fprintf(stderr,
                    "emberpress-news: argument %d is not a news store command (they begin "
                    "with \"kestrelV1 \"); nothing was run\n",
                    i);
            return 2;
        }
        commands.push_back(std::move(text));
    }

    for (const std::string& command : commands)
        kestrel_handle_message(command.c_str(), print_reply, stdout);
    fflush(stdout);
    return 0;
}
