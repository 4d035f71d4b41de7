// The store's paths on Linux: UTF-8, under the user's data folder.
#pragma once

#include <initializer_list>

// The store folder followed by "/component" for each component (all but the last when
// directory_only), on the heap. The store folder is "$XDG_DATA_HOME/Fernwood", or
// "$HOME/.local/share/Fernwood" when XDG_DATA_HOME is unset, empty or not an absolute
// path. NULL when there is neither, or a component is null, empty or not UTF-8.
char* kestrel_build_path(bool directory_only, std::initializer_list<const char*> components);
