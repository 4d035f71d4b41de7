#include "plugin_state.h"

const char kPluginPlatform[] = "windows";
