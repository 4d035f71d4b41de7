#include "recording_editor.h"

static void record(void* sent, const char* text) {
    static_cast<std::vector<std::string>*>(sent)->push_back(text);
}

std::vector<std::string> run(const std::string& command) {
    std::vector<std::string> sent;
    kestrel_handle_message(command.c_str(), record, &sent);
    return sent;
}
