// The store's Windows paths, built in UTF-16 for the wide Win32 and C library calls.
#pragma once

#include <cstddef>
#include <initializer_list>

// "%APPDATA%\Fernwood" followed by "\component" for each component (all but the last
// when directory_only), on the heap. NULL when APPDATA is unset or empty, or a
// component is null, empty or not UTF-8.
wchar_t* kestrel_build_path(bool directory_only, std::initializer_list<const char*> components);

// Length of the root of a Windows path, which cannot be created: "C:", "\\server\share",
// "\\?\C:", "\\?\UNC\server\share" (or "\\." for "\\?"), "\\?\VOLUME"; 0 for others.
// The separator after the root is not counted.
size_t kestrel_path_root_length(const wchar_t* path);
