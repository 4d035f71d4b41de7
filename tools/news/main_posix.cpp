#include "news_tool.h"

const char kStoreLocation[] =
    "The store is the folder Fernwood in the folder named by XDG_DATA_HOME, or in\n"
    "~/.local/share when XDG_DATA_HOME is unset, empty or not an absolute path.\n";

int main(int argc, char** argv) {
    return news_tool_main(argc, argv);
}
