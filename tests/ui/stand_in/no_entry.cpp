// A library under the loader's file name that lacks its entry point, for the
// editor's tests only.
extern "C" __declspec(dllexport) int stand_in_without_entry_point(void) {
    return 0;
}
