#include "recording_editor.h"

void editor_send_text(editor* ed, const char* text) {
    std::lock_guard<std::mutex> hold(ed->guard);
    ed->sent.push_back(text);
}

std::vector<std::string> run(const std::string& command) {
    editor ed;
    kestrel_handle_message(&ed, command.c_str());
    return ed.sent;
}
