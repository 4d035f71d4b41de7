// The store's replies, recorded: what the editor would send to the page.
#pragma once

#include <string>
#include <vector>

#include "kestrel/kestrel.h"

// Runs one command and returns the replies it sent.
std::vector<std::string> run(const std::string& command);
