// FileHandle on Win32: exactly one file call per operation; a path goes to the ANSI call, a name
// inside a folder to the native call relative to the folder's handle.
#include <windows.h>
#include <winternl.h>

#include "engine/file_handle.h"
#include "engine/folder_handle.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/win32/relative_name.h"

namespace {

constexpr DWORD openFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;  // 0x08000020

HANDLE native(intptr_t value) { return reinterpret_cast<HANDLE>(value); }
// A file, not a folder, and a link there as the link itself, which the engine then refuses.
constexpr ULONG relativeFileOptions = FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY | FILE_OPEN_REPARSE_POINT;

}  // namespace

FileHandle::~FileHandle() { close(); }

bool FileHandle::openRead(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = reinterpret_cast<intptr_t>(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, openFlags, nullptr));
    return isOpen();
}

bool FileHandle::openRead(const FolderHandle& folder, const char* name) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = reinterpret_cast<intptr_t>(openRelative(native(folder.nativeHandle()), name, GENERIC_READ,
                                                      FILE_SHARE_READ, FILE_OPEN, relativeFileOptions));
    return isOpen();
}

bool FileHandle::openWrite(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    // A new file or nothing: CREATE_NEW fails on any name that exists, and FILE_FLAG_OPEN_REPARSE_POINT
    // makes a symbolic link count as existing instead of being followed to create its target. DELETE
    // lets the file be deleted through this handle again (deleteOpenFile).
    handle_ = reinterpret_cast<intptr_t>(CreateFileA(path, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                                     openFlags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return isOpen();
}

bool FileHandle::openWrite(const FolderHandle& folder, const char* name) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    // FILE_CREATE fails on any name that exists, a link included; DELETE lets the file be moved or
    // deleted through this handle again (moveOpenFile, deleteOpenFile).
    handle_ = reinterpret_cast<intptr_t>(openRelative(native(folder.nativeHandle()), name,
                                                      GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, 0, FILE_CREATE,
                                                      relativeFileOptions, FILE_ATTRIBUTE_ARCHIVE));
    if (isOpen()) VENNHOLT_FILE_CHANGED(FileChange::Create, handle_, folder.nativeHandle(), name);
    return isOpen();
}

uint32_t FileHandle::read(void* destination, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Read), count)) return 0;
    DWORD moved = 0;
    if (!ReadFile(native(handle_), destination, count, &moved, nullptr)) return 0;
    return moved;
}

uint32_t FileHandle::write(const void* source, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Write), count)) return 0;
    DWORD moved = 0;
    if (!WriteFile(native(handle_), source, count, &moved, nullptr)) return 0;
    if (moved != 0) VENNHOLT_FILE_CHANGED(FileChange::Write, handle_, -1, nullptr, source, moved);
    return moved;
}

bool FileHandle::seek(uint32_t position) {
    if (VENNHOLT_FAULT_EFFECT(Seek) != FaultEffect::None) return false;
    // The distance is signed: 0xFFFFFFFF would turn into -1, fail with INVALID_SET_FILE_POINTER and
    // so compare equal to the request. Positions the call cannot express are refused here.
    if (position > maxFilePosition) return false;
    return SetFilePointer(native(handle_), static_cast<LONG>(position), nullptr, FILE_BEGIN) == position;
}

uint32_t FileHandle::size() { return GetFileSize(native(handle_), nullptr); }

void FileHandle::close() {
    if (!isOpen()) return;
    CloseHandle(native(handle_));
    handle_ = invalidHandle;
}
