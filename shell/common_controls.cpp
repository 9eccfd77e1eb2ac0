#include "shell/common_controls.h"

#include <windows.h>

#include <cstring>

bool loadCommonControls() {
    static const char fileName[] = "\\comctl32.dll";
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof fileName > MAX_PATH) {
        return false;
    }
    std::memcpy(path + length, fileName, sizeof fileName);
    // Where the platform knows the flag, the library's own dependencies come from the system folder
    // as well; older systems reject the flag, and there the full path alone decides.
    if (LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32) != nullptr) {
        return true;
    }
    return LoadLibraryA(path) != nullptr;
}
