// emberpress-news: runs news store commands from the command line, for support and
// for tests that share the store between several processes.
#include <cstdio>
#include <cstring>

#include "kestrel/kestrel.h"
#include "news_tool.h"

static const char kUsage[] =
    "usage: emberpress-news COMMAND...\n"
    "\n"
    "Runs news store commands in order, each exactly as the editor page sends it\n"
    "(the text of an \"m\" page message after \"m \"), and prints every reply.\n"
    "Give each command as one argument, for example:\n"
    "  emberpress-news \"kestrelV1 init emberpress\" \"kestrelV1 getNews \"\n"
    "\n";

static const char kOutput[] =
    "Each reply is printed as it stands, followed by one line feed. A reply whose\n"
    "content holds line feeds therefore spans several lines; every reply begins\n"
    "with \"kestrelV1 \". Line feeds are never printed as CR LF.\n"
    "\n"
    "Exit status: 0 when the commands ran (a command the store refuses prints\n"
    "nothing; a conflict prints its reply); 2 when an argument is not a news store\n"
    "command or not valid text, in which case no command is run.\n";

static void usage(FILE* to) {
    fputs(kUsage, to);
    fputs(kStoreLocation, to);
    fputs(kOutput, to);
}

// Replies go straight to standard output.
static void print_reply(void* out, const char* text) {
    fputs(text, static_cast<FILE*>(out));
    fputc('\n', static_cast<FILE*>(out));
}

int news_tool_main(int argc, char** argv) {
    if (argc == 2 && argv[1] && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc < 2) {
        usage(stderr);
        return 2;
    }

    // Every argument is checked before the first command runs.
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) {
            fprintf(stderr, "emberpress-news: argument %d is not valid text; nothing was run\n", i);
            return 2;
        }
        if (strncmp(argv[i], "kestrelV1 ", 10) != 0) {
            fprintf(stderr,
                    "emberpress-news: argument %d is not a news store command (they begin "
                    "with \"kestrelV1 \"); nothing was run\n",
                    i);
            return 2;
        }
    }
    for (int i = 1; i < argc; ++i) kestrel_handle_message(argv[i], print_reply, stdout);
    fflush(stdout);
    return 0;
}
