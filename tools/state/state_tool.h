// emberpress-state: looks into saved Emberpress state files.
#pragma once

#include <cstdint>
#include <vector>

// The whole tool; arguments in UTF-8. Returns the process exit status.
int state_tool_main(int argc, char** argv);

// Reads a whole file given by a UTF-8 path (one per platform). False with errno set
// when it cannot.
bool read_whole_file(const char* path, std::vector<uint8_t>* bytes);
