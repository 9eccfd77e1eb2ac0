#include "shell/install_folder.h"

#include <windows.h>

#include <cstring>

#include "engine/text_join.h"

bool findInstallFolder(char* folder, const char* brand, const char* product) {
    if (brand == nullptr || product == nullptr) {
        return false;
    }
    char keyPath[4096];
    if (!joinText(keyPath, sizeof keyPath, {"Software\\", brand, "\\", product})) {
        return false;
    }
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    // The buffer starts zeroed: a value stored without its terminating zero then ends at the first
    // byte the query did not write, and one that fills the whole buffer has no end and is refused.
    std::memset(folder, 0, installFolderSize);
    DWORD type = REG_NONE;
    DWORD size = installFolderSize;
    const LONG status =
        RegQueryValueExA(key, "InstalledFolder", nullptr, &type, reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    // An empty folder would make every path of the run relative to the root of the current drive.
    return std::memchr(folder, '\0', installFolderSize) != nullptr && folder[0] != '\0';
}
