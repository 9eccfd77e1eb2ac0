#include "engine/platform/win32/final_path.h"

#include <cwchar>

#include "engine/folder_handle.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/win32/owned_handle.h"

namespace {

constexpr DWORD capacity = 1024;
// Normalized, with a drive letter (VOLUME_NAME_DOS), the volume's NT name (VOLUME_NAME_NT) or its
// GUID (VOLUME_NAME_GUID).
constexpr uint8_t forms[] = {VOLUME_NAME_DOS, VOLUME_NAME_NT, VOLUME_NAME_GUID};

// The final path of the open handle in `form`, NUL-terminated, and its length; 0 when the system
// cannot give it or it is too long.
DWORD finalPath(HANDLE handle, uint8_t form, wchar_t (&path)[capacity]) {
    if (VENNHOLT_FAULT_EFFECT(FinalPath) != FaultEffect::None) return 0;
    const DWORD length = GetFinalPathNameByHandleW(handle, path, capacity, FILE_NAME_NORMALIZED | form);
    return length < capacity ? length : 0;
}

}  // namespace

uint8_t pathFormOf(HANDLE folder) {
    wchar_t path[capacity];
    for (const uint8_t form : forms) {
        if (finalPath(folder, form, path) != 0) return form;
    }
    return noPathForm;
}

bool reachesItself(HANDLE handle, const FolderHandle& folder, const char* name) {
    if (folder.pathForm() == noPathForm) return true;
    wchar_t expected[capacity], own[capacity];
    DWORD expectedLength = finalPath(reinterpret_cast<HANDLE>(folder.nativeHandle()), folder.pathForm(), expected);
    const DWORD ownLength = finalPath(handle, folder.pathForm(), own);
    if (expectedLength == 0 || ownLength == 0 || expectedLength + 1 >= capacity) return true;
    if (expected[expectedLength - 1] != L'\\') expected[expectedLength++] = L'\\';  // a drive's root ends in one
    const int nameLength = MultiByteToWideChar(CP_ACP, 0, name, -1, expected + expectedLength,
                                               static_cast<int>(capacity - expectedLength));
    return nameLength > 1 &&
           CompareStringOrdinal(own, static_cast<int>(ownLength), expected,
                                static_cast<int>(expectedLength) + nameLength - 1, TRUE) == CSTR_EQUAL;
}

bool stillAtItsPath(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(handle, &held)) return true;
    // Only a path that opens and reaches another file or folder tells of a swap; one that cannot be
    // had or opened in any form tells nothing (a rename through it would fail as well).
    wchar_t path[capacity + 16];
    for (const uint8_t form : forms) {
        wchar_t* name = path;
        if (form == VOLUME_NAME_NT) {  // a volume's NT name opens below the object manager's root
            wcscpy(path, L"\\\\?\\GLOBALROOT");
            name = path + wcslen(path);
        }
        wchar_t(&room)[capacity] = *reinterpret_cast<wchar_t(*)[capacity]>(name);
        if (finalPath(handle, form, room) == 0) continue;
        const OwnedHandle reached(CreateFileW(path, FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION found{};
        if (!reached.isOpen() || !GetFileInformationByHandle(reached.get(), &found)) continue;
        return held.dwVolumeSerialNumber == found.dwVolumeSerialNumber && held.nFileIndexHigh == found.nFileIndexHigh &&
               held.nFileIndexLow == found.nFileIndexLow;
    }
    return true;
}
