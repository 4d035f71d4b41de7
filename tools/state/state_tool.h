// emberpress-state: looks into saved Emberpress state files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

// The whole tool; arguments in UTF-8. Returns the process exit status.
int state_tool_main(int argc, char** argv);

// Opens a file given by a UTF-8 path for binary reading (one per platform); null with
// errno set when it cannot.
std::FILE* open_for_reading(const char* path);
