// The file-system calls on Win32. A name is looked at through a handle opened on the name itself
// (FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link or junction as the link), and removed or
// re-attributed through that same handle, so that nothing put at the name meanwhile is touched.
// Final paths (GetFinalPathNameByHandleW) tell where a name or an open file really is.
#include <windows.h>

#include <cstring>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/platform/fault_injection.h"

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD finalPathCapacity = resolvedFolderCapacity / sizeof(wchar_t);
// FileDispositionInfoEx, which the headers name only for newer targets; the call fails where the
// system lacks it.
constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

HANDLE native(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.nativeHandle()); }

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The name itself, a link or junction as the link and a folder as a folder.
HANDLE openName(const char* path, DWORD access) {
    return CreateFileA(path, access, shareAll, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The final path of an open handle (UTF-16, NUL-terminated) and its length; 0 when unknown or too long.
DWORD finalPath(HANDLE handle, wchar_t (&path)[finalPathCapacity]) {
    const DWORD length = GetFinalPathNameByHandleW(handle, path, finalPathCapacity, FILE_NAME_NORMALIZED);
    return length < finalPathCapacity ? length : 0;
}

// True when the open name's final path is the name itself: the final path of its folder, a
// separator and its last component, letter case aside. A name that leads elsewhere without showing
// as a link (Wine shows a Unix symbolic link so) has another final path.
bool reachesItself(HANDLE handle, const char* path) {
    char folder[resolvedFolderCapacity];
    const size_t length = std::strlen(path);
    if (length >= sizeof folder) return false;
    size_t last = 0;  // the start of the last component
    for (size_t i = 0; i < length; ++i) {
        if (path[i] == '\\' || path[i] == '/') {
            last = i + 1;
        } else if (isLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < length) {
            ++i;
        }
    }
    std::memcpy(folder, path, last);
    folder[last > 0 ? last - 1 : 0] = '\0';
    const HANDLE folderHandle =
        CreateFileA(last > 1    ? folder
                    : last == 1 ? "\\"
                                : ".",
                    FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folderHandle == INVALID_HANDLE_VALUE) return false;
    wchar_t expected[finalPathCapacity], own[finalPathCapacity];
    DWORD expectedLength = finalPath(folderHandle, expected);
    CloseHandle(folderHandle);
    if (expectedLength == 0 || expectedLength + 1 >= finalPathCapacity) return false;
    if (expected[expectedLength - 1] != L'\\') expected[expectedLength++] = L'\\';
    const int nameLength = MultiByteToWideChar(CP_ACP, 0, path + last, -1, expected + expectedLength,
                                               static_cast<int>(finalPathCapacity - expectedLength));
    const DWORD ownLength = finalPath(handle, own);
    return nameLength > 1 && ownLength != 0 &&
           CompareStringOrdinal(own, static_cast<int>(ownLength), expected,
                                static_cast<int>(expectedLength) + nameLength - 1, TRUE) == CSTR_EQUAL;
}

// What the open name is.
NameState classify(HANDLE handle, const char* path) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) return {NameKind::Redirected, false};  // unknown: left alone
    const DWORD attributes = information.dwFileAttributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {NameKind::Link, readOnly};
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {NameKind::Folder, false};
    if (!reachesItself(handle, path)) return {NameKind::Redirected, readOnly};
    return {information.nNumberOfLinks > 1 ? NameKind::HardLinked : NameKind::File, readOnly};
}

bool setNormalAttributes(HANDLE handle) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks the open name for deletion when its last handle closes.
bool deleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The same for a read-only name, leaving the attribute that every name of the file shares as it is;
// only where the system can.
bool deleteKeepingReadOnly(HANDLE handle) {
    FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE |
                                         FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    return SetFileInformationByHandle(handle, fileDispositionInfoEx, &disposition, sizeof disposition) != 0 ||
           refuse(Refusal::HardLink);
}

NameClearing removeName(HANDLE handle, NameState state) {
    switch (state.kind) {
        case NameKind::Missing:
            break;
        case NameKind::Folder:
            refuse(Refusal::Folder);
            return NameClearing::Folder;
        case NameKind::Redirected:
            refuse(Refusal::SymbolicLink);  // deleting it would delete the file it leads to
            return NameClearing::Kept;
        case NameKind::File:
            if (state.readOnly && !setNormalAttributes(handle)) return NameClearing::Kept;
            return deleteThrough(handle) ? NameClearing::Free : NameClearing::Kept;
        case NameKind::Link:
            return deleteThrough(handle) ? NameClearing::Free : NameClearing::Kept;
        case NameKind::HardLinked:
            return (state.readOnly ? deleteKeepingReadOnly(handle) : deleteThrough(handle)) ? NameClearing::Free
                                                                                            : NameClearing::Kept;
    }
    return NameClearing::Free;
}

}  // namespace

bool inspectName(const char* path, NameState& state) {
    state = {NameKind::Missing, false};
    const HANDLE handle = openName(path, FILE_READ_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return isMissing(GetLastError());
    state = classify(handle, path);
    CloseHandle(handle);
    return true;
}

NameClearing clearName(const char* path) {
    const HANDLE handle = openName(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return isMissing(GetLastError()) ? NameClearing::Free : NameClearing::Kept;
    const NameClearing clearing = removeName(handle, classify(handle, path));
    const DWORD error = GetLastError();
    CloseHandle(handle);  // a name marked for deletion goes now
    SetLastError(error);
    return clearing;
}

bool resetFileAttributes(const char* path) {
    const HANDLE handle = openName(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool reset = classify(handle, path).kind == NameKind::File && setNormalAttributes(handle);
    CloseHandle(handle);
    return reset;
}

bool moveReplacing(const char* from, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool isReadOnlyFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool pathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void resolveFolder(const char* folder, ResolvedFolder& resolved) {
    resolved.length = 0;
    const HANDLE handle = CreateFileA(folder, FILE_READ_ATTRIBUTES, shareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    wchar_t path[finalPathCapacity];
    const DWORD length = finalPath(handle, path);
    CloseHandle(handle);
    std::memcpy(resolved.bytes, path, length * sizeof(wchar_t));
    resolved.length = length * sizeof(wchar_t);
}

bool liesInside(const FileHandle& file, const ResolvedFolder& folder) {
    wchar_t path[finalPathCapacity];
    const DWORD length = finalPath(native(file), path);
    const DWORD folderLength = folder.length / sizeof(wchar_t);
    if (folderLength == 0 || length <= folderLength || std::memcmp(path, folder.bytes, folder.length) != 0)
        return false;
    return path[folderLength - 1] == L'\\' || path[folderLength] == L'\\';  // a drive's root ends in its separator
}

bool isPlainFile(const FileHandle& file, const char* path) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(native(file), &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           information.nNumberOfLinks == 1 && reachesItself(native(file), path);
}

void deleteOpenFile(FileHandle& file) {
    deleteThrough(native(file));
    file.close();
}

bool ownExecutablePath(char* buffer, uint32_t size) { return GetModuleFileNameA(nullptr, buffer, size) != 0; }

uint32_t systemErrorCode() { return GetLastError(); }

void clearSystemErrorCode() { SetLastError(ERROR_SUCCESS); }

// Windows denies access to a folder opened or replaced as a file, so both refusals read alike.
uint32_t refusalCode(Refusal refusal) {
    constexpr DWORD codes[] = {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT, ERROR_CANT_RESOLVE_FILENAME,
                               ERROR_TOO_MANY_LINKS};
    return codes[static_cast<unsigned>(refusal)];
}

bool refuse(Refusal refusal) {
    SetLastError(refusalCode(refusal));
    return false;
}
