#pragma once
// The few file-system calls the engine makes besides FileHandle, and the system's error code of
// both. Paths are code-page strings with "\" as the separator.
//
// The updater runs elevated in a folder that others may be able to write, so every name in it may
// have been planted there: a link to a file elsewhere, a second name of another file, a folder. The
// calls here look at a name without following a link, remove a link as the link itself, and never
// change the file behind one.

#include <cstdint>

class FileHandle;

// What stands at a name, looked at without following a link.
enum class NameKind : uint8_t {
    Missing,     // nothing
    File,        // a regular file with one link, which the name reaches directly
    HardLinked,  // a regular file with more than one link: other names share its bytes and attributes
    Link,        // a link the system shows as one (a symbolic link, on Windows also a junction or other
                 // reparse point), or a name with no bytes of its own behind it (a pipe, a socket, a device)
    Redirected,  // a name that leads elsewhere without showing as a link (how Wine shows a Unix symbolic
                 // link to a Windows program: it removes or moves the file behind it, not the link)
    Folder,
};
struct NameState {
    NameKind kind;
    bool readOnly;  // of a File or HardLinked: its read-only attribute (on POSIX: no write permission at all)
};
// Looks at `path` without following a link. False, with the system's code, when the system cannot
// tell what stands there (the folder cannot be searched, say); a missing name is no failure.
bool inspectName(const char* path, NameState& state);

// What became of a name that clearName was to make free.
enum class NameClearing : uint8_t {
    Free,    // nothing stands there now
    Folder,  // a folder stands there; it is left alone
    Kept,    // something stands there that could not, or must not, be removed; the system's code tells why
};
// Makes `path` free for a new file, removing what stands there as a name and never the file behind
// it: a File loses its read-only attribute and is removed; a Link is removed as the link itself; a
// HardLinked file's name is removed when that changes nothing of the file (it is writable, or the
// system can remove a read-only name without clearing the attribute that all its names share). A
// Redirected name is kept: removing it would remove the file it leads to. On Windows the name is
// removed through the handle that inspected it, so nothing put there meanwhile is touched.
NameClearing clearName(const char* path);

// Resets the attributes of `path` to normal when it is a File, so that a read-only target can be
// replaced; anything else keeps its attributes, as they are those of a file behind a link or of a
// file other names share. False when nothing was reset.
bool resetFileAttributes(const char* path);

// Moves `from` over `to` in one step, replacing an existing file, or a link as the link itself.
// Fails, leaving `to` unchanged, when `to` is a folder, is read-only, or is held open by a FileHandle.
bool moveReplacing(const char* from, const char* to);
// True when the path names an existing file whose read-only attribute is set. The lists are checked
// with it before they are rewritten: a move onto a read-only file fails on Windows but succeeds in
// some environments (Wine), so the updater does not leave the answer to the move.
bool isReadOnlyFile(const char* path);
// True when the path names an existing file or folder.
bool pathExists(const char* path);
// A folder as the system resolves it, links and junctions followed, in the platform's own form
// (UTF-16 on Windows, bytes on POSIX); empty (length 0) when it cannot be resolved, which no file lies
// inside. The run resolves the install folder once, when it starts.
inline constexpr uint32_t resolvedFolderCapacity = 1024;
struct ResolvedFolder {
    uint32_t length;
    uint8_t bytes[resolvedFolderCapacity];
};
void resolveFolder(const char* folder, ResolvedFolder& resolved);
// True when the open file's final path lies inside `folder`: a file created through a subfolder that
// is a link or junction leading elsewhere does not.
bool liesInside(const FileHandle& file, const ResolvedFolder& folder);
// True when the open file is a regular file with one link that `path` names directly: no link, no
// file other names share. The lists are read only then.
bool isPlainFile(const FileHandle& file, const char* path);
// Deletes the open file through its own handle (which must have been opened for writing) and
// closes it; nothing put at its name meanwhile is touched.
void deleteOpenFile(FileHandle& file);

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
