#include "engine/platform/win32/relative_name.h"

#include <winternl.h>

#include <cstring>

namespace {

// A component fits the 260-byte path buffers of the engine, and so this many UTF-16 units.
constexpr int nameCapacity = MAX_PATH;

// The component in UTF-16, converted by the process's ANSI code page as CreateFileA converts a
// path; its length in units, 0 (with the system's code) when it is empty or does not convert.
ULONG wideName(const char* name, wchar_t (&wide)[nameCapacity]) {
    const int length = MultiByteToWideChar(CP_ACP, 0, name, -1, wide, nameCapacity);
    if (length > 1) return static_cast<ULONG>(length - 1);
    if (length == 1) SetLastError(ERROR_INVALID_NAME);
    return 0;
}

bool failedStatus(NTSTATUS status) {
    SetLastError(RtlNtStatusToDosError(status));
    return false;
}

}  // namespace

HANDLE openRelative(HANDLE folder, const char* name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                    ULONG attributes) {
    wchar_t wide[nameCapacity];
    const ULONG length = wideName(name, wide);
    if (length == 0) return INVALID_HANDLE_VALUE;
    UNICODE_STRING string{static_cast<USHORT>(length * sizeof(wchar_t)), static_cast<USHORT>(sizeof wide), wide};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &string, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE handle = INVALID_HANDLE_VALUE;
    const NTSTATUS result = NtCreateFile(&handle, access | SYNCHRONIZE, &object, &status, nullptr, attributes, share,
                                         disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (result < 0) {
        failedStatus(result);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

bool renameRelative(HANDLE file, HANDLE folder, const char* name) {
    wchar_t wide[nameCapacity];
    const ULONG length = wideName(name, wide);
    if (length == 0) return false;
    union {
        FILE_RENAME_INFORMATION information;
        unsigned char bytes[sizeof(FILE_RENAME_INFORMATION) + sizeof wide];
    } rename{};
    rename.information.ReplaceIfExists = TRUE;
    rename.information.RootDirectory = folder;
    rename.information.FileNameLength = length * sizeof(wchar_t);
    std::memcpy(rename.information.FileName, wide, length * sizeof(wchar_t));
    IO_STATUS_BLOCK status{};
    const NTSTATUS result = NtSetInformationFile(file, &status, &rename, sizeof rename, FileRenameInformation);
    return result >= 0 || failedStatus(result);
}
