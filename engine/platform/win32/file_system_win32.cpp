// The file-system calls on Win32. Every name is reached relative to the handle of the folder that
// holds it (relative_name.h), opened on the name itself (FILE_OPEN_REPARSE_POINT: a symbolic link or
// junction as the link), and looked at, re-attributed, removed or moved through that same handle,
// so that nothing put at the name meanwhile is touched. Final paths (final_path.h) tell a name that
// leads elsewhere without showing as a link.
#include <windows.h>
#include <winternl.h>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/win32/final_path.h"
#include "engine/platform/win32/owned_handle.h"
#include "engine/platform/win32/relative_name.h"

namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder the run holds is shared with readers and writers but not with deletion, so that nobody
// renames or removes it, or puts a junction in its place, while the run works in it.
constexpr DWORD folderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD folderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A name itself, whatever stands there: a link as the link, a folder as a folder.
constexpr ULONG nameOptions = FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT;
// FileDispositionInfoEx, which the headers name only for newer targets; the call fails where the
// system lacks it.
constexpr auto fileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

HANDLE native(const FileHandle& file) { return reinterpret_cast<HANDLE>(file.nativeHandle()); }
HANDLE native(const FolderHandle& folder) { return reinterpret_cast<HANDLE>(folder.nativeHandle()); }

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

HANDLE openName(const FolderHandle& folder, const char* name, DWORD access) {
    return openRelative(native(folder), name, access, shareAll, FILE_OPEN, nameOptions);
}

// What the open name `name` in `folder` is. False, with the system's code, when it cannot be told.
bool classify(HANDLE handle, const FolderHandle& folder, const char* name, NameState& state) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) return false;
    const DWORD attributes = information.dwFileAttributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        state = {directory ? NameKind::LinkedFolder : NameKind::Link, readOnly};
    } else if (directory) {
        state = {NameKind::Folder, false};
    } else if (!reachesItself(handle, folder, name)) {
        state = {NameKind::Redirected, readOnly};
    } else {
        state = {information.nNumberOfLinks > 1 ? NameKind::HardLinked : NameKind::File, readOnly};
    }
    return true;
}

bool setNormalAttributes(HANDLE handle) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Resets the open file's attributes to normal. A handle opened without the right to change
// attributes (which Wine will not grant on a read-only file) is opened again through itself, never
// by its name, with that right (which Windows grants on one).
bool makeNormal(HANDLE handle) {
    if (setNormalAttributes(handle)) return true;
    const OwnedHandle writable(
        ReOpenFile(handle, FILE_WRITE_ATTRIBUTES, shareAll, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    return writable.isOpen() && setNormalAttributes(writable.get());
}

// Marks the open name for deletion when its last handle closes.
bool deleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// The same for a read-only name, leaving the attribute that every name of the file shares as it is;
// only where the system can, and otherwise with the system's code of why not.
bool deleteKeepingReadOnly(HANDLE handle) {
    FILE_DISPOSITION_INFO_EX disposition{FILE_DISPOSITION_FLAG_DELETE |
                                         FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    return SetFileInformationByHandle(handle, fileDispositionInfoEx, &disposition, sizeof disposition) != 0;
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
            if (state.readOnly && !makeNormal(handle)) return NameClearing::Kept;
            return deleteThrough(handle) ? NameClearing::Free : NameClearing::Kept;
        case NameKind::Link:
        case NameKind::LinkedFolder:
            return deleteThrough(handle) ? NameClearing::Free : NameClearing::Kept;
        case NameKind::HardLinked:
            return (state.readOnly ? deleteKeepingReadOnly(handle) : deleteThrough(handle)) ? NameClearing::Free
                                                                                            : NameClearing::Kept;
    }
    return NameClearing::Free;
}

}  // namespace

void FolderHandle::close() {
    if (!isOpen()) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = invalidHandle;
}

bool openFolder(FolderHandle& folder, const char* path) {
    if (VENNHOLT_FAULT_EFFECT(Folder) != FaultEffect::None) return false;
    OwnedHandle handle(
        CreateFileA(path, folderAccess, folderShare, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.isOpen()) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) return false;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    const uint8_t form = pathFormOf(handle.get());
    folder.reset(reinterpret_cast<intptr_t>(handle.release()), form);
    VENNHOLT_FILE_CHANGED(FileChange::Folder, folder.nativeHandle(), -1, path);
    return true;
}

SubfolderOpening openSubfolder(FolderHandle& subfolder, const FolderHandle& parent, const char* name) {
    if (VENNHOLT_FAULT_EFFECT(Folder) != FaultEffect::None) return SubfolderOpening::Failed;
    OwnedHandle handle(
        openRelative(native(parent), name, folderAccess, folderShare, FILE_OPEN, FILE_DIRECTORY_FILE | nameOptions));
    if (!handle.isOpen()) return SubfolderOpening::Failed;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) return SubfolderOpening::Failed;
    // A junction, a folder's symbolic link or a mount point shows as a reparse point; a Unix symbolic
    // link under Wine only by its final path.
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !reachesItself(handle.get(), parent, name)) {
        refuse(Refusal::SymbolicLink);
        return SubfolderOpening::LeadsOut;
    }
    subfolder.reset(reinterpret_cast<intptr_t>(handle.release()), parent.pathForm());
    VENNHOLT_FILE_CHANGED(FileChange::Folder, subfolder.nativeHandle(), parent.nativeHandle(), name);
    return SubfolderOpening::Opened;
}

bool inspectName(const FolderHandle& folder, const char* name, NameState& state) {
    state = {NameKind::Missing, false};
    const OwnedHandle handle(openName(folder, name, FILE_READ_ATTRIBUTES));
    if (!handle.isOpen()) return isMissing(GetLastError());
    return classify(handle.get(), folder, name, state);
}

bool inspectOpenFile(const FileHandle& file, const FolderHandle& folder, const char* name, NameState& state) {
    return classify(native(file), folder, name, state);
}

// The name is opened for deletion only: Wine refuses a handle that may change attributes on a
// read-only file, which makeNormal gets through the handle itself where it is needed.
NameClearing clearName(const FolderHandle& folder, const char* name) {
    const OwnedHandle handle(openName(folder, name, DELETE | FILE_READ_ATTRIBUTES));
    if (!handle.isOpen()) return isMissing(GetLastError()) ? NameClearing::Free : NameClearing::Kept;
    NameState state{};
    if (!classify(handle.get(), folder, name, state)) return NameClearing::Kept;
    const NameClearing clearing = removeName(handle.get(), state);  // the name goes when the handle closes
    if (clearing == NameClearing::Free) VENNHOLT_FILE_CHANGED(FileChange::Remove, -1, folder.nativeHandle(), name);
    return clearing;
}

bool resetFileAttributes(const FolderHandle& folder, const char* name) {
    const OwnedHandle handle(openName(folder, name, FILE_READ_ATTRIBUTES));
    NameState state{};
    if (!handle.isOpen() || !classify(handle.get(), folder, name, state) || state.kind != NameKind::File ||
        !makeNormal(handle.get())) {
        return false;
    }
    VENNHOLT_FILE_CHANGED(FileChange::Attributes, -1, folder.nativeHandle(), name);
    return true;
}

bool moveOpenFile(FileHandle& file, const FolderHandle& folder, const char*, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    // Windows renames the file object the handle holds, inside the folder object; Wine renames by the
    // paths it kept, which lead elsewhere once the folder has been swapped for a link.
    if (!stillAtItsPath(native(folder)) || !stillAtItsPath(native(file))) return refuse(Refusal::Replaced);
    if (!renameRelative(native(file), native(folder), to)) return false;
    VENNHOLT_FILE_CHANGED(FileChange::Rename, file.nativeHandle(), folder.nativeHandle(), to);
    file.close();
    return true;
}

void deleteOpenFile(FileHandle& file, [[maybe_unused]] const FolderHandle& folder, [[maybe_unused]] const char* name) {
    if (deleteThrough(native(file)))
        VENNHOLT_FILE_CHANGED(FileChange::Remove, file.nativeHandle(), folder.nativeHandle(), name);
    file.close();
}

// The system's cache writes back in the background; the flush before the first move waits for it once.
void startWriteBack(const FileHandle&, uint32_t, uint32_t) {}

bool flushFile(const FileHandle& file) {
    if (VENNHOLT_FAULT_EFFECT(Flush) != FaultEffect::None || !FlushFileBuffers(native(file))) return false;
    VENNHOLT_FILE_CHANGED(FileChange::Flush, file.nativeHandle(), -1, nullptr);
    return true;
}

bool flushFolder(const FolderHandle&) { return true; }

bool canReplaceNow(const FolderHandle& folder, const char* name) {
    if (VENNHOLT_FAULT_EFFECT(Probe) != FaultEffect::None) return false;
    const OwnedHandle handle(openName(folder, name, DELETE | FILE_READ_ATTRIBUTES));
    return handle.isOpen() || isMissing(GetLastError());
}

bool isHeldCode(uint32_t code) { return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION; }

void pauseMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

bool ownExecutablePath(char* buffer, uint32_t size) { return GetModuleFileNameA(nullptr, buffer, size) != 0; }

uint32_t systemErrorCode() { return GetLastError(); }

void clearSystemErrorCode() { SetLastError(ERROR_SUCCESS); }

// Windows denies access to a folder opened or replaced as a file, so both refusals read alike.
uint32_t refusalCode(Refusal refusal) {
    constexpr DWORD codes[] = {ERROR_ACCESS_DENIED,         ERROR_ACCESS_DENIED,  ERROR_WRITE_FAULT,
                               ERROR_CANT_RESOLVE_FILENAME, ERROR_TOO_MANY_LINKS, ERROR_FILE_INVALID,
                               ERROR_SHARING_VIOLATION};
    static_assert(sizeof codes / sizeof *codes == static_cast<unsigned>(Refusal::Held) + 1);
    return codes[static_cast<unsigned>(refusal)];
}

bool refuse(Refusal refusal) {
    SetLastError(refusalCode(refusal));
    return false;
}
