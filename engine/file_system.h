#pragma once
// The few file-system calls the engine makes besides FileHandle, and the system's error code of
// both. Names are code-page strings of one component, reached through the handle of the folder
// that holds them (engine/folder_handle.h); only the install folder is opened by its path.
//
// The updater runs elevated in a folder that others may be able to write and change while it runs,
// so every name in it may have been planted there: a link to a file elsewhere, a second name of
// another file, a folder. The calls here look at a name without following a link, act only through
// the handle they looked with, remove a link as the link itself, and never change the file behind
// one.

#include <cstdint>

class FileHandle;
class FolderHandle;

// Opens the install folder at `path` into `folder`, following a link or junction of the folder
// itself (a game installed through one works) but of nothing it holds. False, with the system's
// code, when it cannot be opened as a folder.
bool openFolder(FolderHandle& folder, const char* path);

// How opening a subfolder ended.
enum class SubfolderOpening : uint8_t {
    Opened,
    Failed,    // it is missing, is no folder or cannot be opened; the system's code tells why
    LeadsOut,  // it is a link or junction, or leads elsewhere without showing as one: never entered;
               // the system's code is that of the call that refused it, or a refusal's
};
// Opens the folder `name` (one component) inside `parent`, relative to the parent's handle and
// without following a link.
SubfolderOpening openSubfolder(FolderHandle& subfolder, const FolderHandle& parent, const char* name);

// What stands at a name, looked at without following a link.
enum class NameKind : uint8_t {
    Missing,       // nothing
    File,          // a regular file with one link, which the name reaches directly
    HardLinked,    // a regular file with more than one link: other names share its bytes and attributes
    Link,          // a link the system shows as one (a symbolic link, on Windows also a reparse point), or a
                   // name with no bytes of its own behind it (a pipe, a socket, a device)
    LinkedFolder,  // a link that stands as a folder (on Windows a junction or a folder's symbolic link):
                   // removed as the link itself, but no move can replace it with a file
    Redirected,    // a name that leads elsewhere without showing as a link (how Wine shows a Unix symbolic
                   // link to a Windows program: it removes or moves the file behind it, not the link)
    Folder,
};
struct NameState {
    NameKind kind;
    bool readOnly;  // of a File or HardLinked: its read-only attribute (on POSIX: no write permission at all)
};
// The one way to learn what stands at `name` (one component) in `folder`: looked at through a
// handle opened relative to the folder's, never following a link. False, with the system's code,
// when the system cannot tell; a missing name is no failure.
bool inspectName(const FolderHandle& folder, const char* name, NameState& state);
// The same for the file open in `file`, which was opened at `name` in `folder`: what the handle
// holds, so that a file is checked on the very handle it is read through.
bool inspectOpenFile(const FileHandle& file, const FolderHandle& folder, const char* name, NameState& state);

// What became of a name that clearName was to make free.
enum class NameClearing : uint8_t {
    Free,    // nothing stands there now
    Folder,  // a folder stands there; it is left alone
    Kept,    // something stands there that could not, or must not, be removed; the system's code tells why
};
// Makes `name` in `folder` free for a new file, removing what stands there as a name and never the
// file behind it, through the handle that looked at it: a File loses its read-only attribute and is
// removed; a Link or LinkedFolder is removed as the link itself; a HardLinked file's name is
// removed when that changes nothing of the file (it is writable, or the system can remove a
// read-only name without clearing the attribute that all its names share). A Redirected name is
// kept: removing it would remove the file it leads to.
NameClearing clearName(const FolderHandle& folder, const char* name);

// Resets the attributes of `name` in `folder` to normal, through a handle opened on the name
// itself, when it is a File, so that a read-only target can be replaced; anything else keeps its
// attributes, as they are those of a file behind a link or of a file other names share. False
// when nothing was reset.
bool resetFileAttributes(const FolderHandle& folder, const char* name);

// Moves the file open in `file`, created as `from` in `folder`, to the name `to` in the same folder
// in one step, replacing an existing file, or a link as the link itself, and closes it. Fails,
// leaving `to` unchanged, when `to` is a folder, is read-only or is held open by another handle.
bool moveOpenFile(FileHandle& file, const FolderHandle& folder, const char* from, const char* to);
// Deletes the file open in `file`, created as `name` in `folder`, through its own handle (which
// must have been opened for writing), and closes it; nothing put at its name meanwhile is touched.
void deleteOpenFile(FileHandle& file, const FolderHandle& folder, const char* name);

// Starts writing the `length` bytes at `offset` of the open file back to the disk without waiting
// for them, so that flushFile later finds little left to wait for (Linux); nothing where the system's
// cache writes back in the background on its own (Windows).
void startWriteBack(const FileHandle& file, uint32_t offset, uint32_t length);
// Waits until every byte written to the open file is on the disk (fsync; FlushFileBuffers). False,
// with the system's code, when the system says it could not be written: a full or removed drive, a
// network share that went away. A write the cache accepted may fail only here.
bool flushFile(const FileHandle& file);
// Waits until the renames into the folder are on the disk (fsync of its descriptor on POSIX; NTFS
// journals them itself). False, with the system's code, on failure.
bool flushFolder(const FolderHandle& folder);

// Opens `name` in `folder` for deletion, sharing everything, and closes it again: what a move over it
// needs. True when it could be opened or nothing stands there; false, with the system's code, when
// not (another program holds it: a sharing violation, or access denied).
bool canReplaceNow(const FolderHandle& folder, const char* name);
// True when the system's `code` tells of a file another program holds open (a sharing or lock
// violation); access denied may tell of one too, where the file is not read-only.
bool isHeldCode(uint32_t code);

// Waits `milliseconds` without handling anything.
void pauseMilliseconds(uint32_t milliseconds);

// Writes the path of the running executable into `buffer` (NUL-terminated, cut to fit `size`).
// False when the platform cannot tell; the buffer is then unchanged.
bool ownExecutablePath(char* buffer, uint32_t size);

// The code the system gave the last call that failed, of these and of FileHandle's: errno on
// POSIX, GetLastError() on Windows. Read it right after the failing call, before any other call.
// A read or write can come back short without failing; clear the code before one, so that a
// short result with a code of 0 tells that no call failed.
uint32_t systemErrorCode();
void clearSystemErrorCode();

// Calls the engine refuses itself where Windows would refuse them, and the code they give.
enum class Refusal : uint8_t {
    AccessDenied,   // a read-only file, or one held open (EACCES; ERROR_ACCESS_DENIED)
    Folder,         // a folder where a file is wanted (EISDIR; Windows denies access to it)
    InjectedFault,  // a fault injected by the test build (EIO; ERROR_WRITE_FAULT)
    SymbolicLink,   // a name that leads elsewhere where a file of its own is wanted (ELOOP;
                    // ERROR_CANT_RESOLVE_FILENAME)
    HardLink,       // a file that other names share where a file of its own is wanted (EMLINK;
                    // ERROR_TOO_MANY_LINKS)
    Replaced,       // a name no longer holds the file the run wrote there (ESTALE; ERROR_FILE_INVALID)
    Held,           // a file another program holds open (EBUSY; ERROR_SHARING_VIOLATION); the last
};
uint32_t refusalCode(Refusal refusal);
// Sets the refusal's code as the system's; false, so that a refused call can return through it.
bool refuse(Refusal refusal);

// Hands the code of the call that just failed to a caller that asked for it (systemError not
// null); false, so that a failing function can return through it.
inline bool failedCall(uint32_t* systemError) {
    if (systemError != nullptr) *systemError = systemErrorCode();
    return false;
}
