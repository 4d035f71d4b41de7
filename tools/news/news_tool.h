// emberpress-news: runs news store commands from the command line.
#pragma once

// The whole tool. Arguments in UTF-8; an argument that could not be given as UTF-8 is
// null. Returns the process exit status.
int news_tool_main(int argc, char** argv);

// Where the store is, in a sentence for the usage text (one per platform).
extern const char kStoreLocation[];
