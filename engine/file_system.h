#pragma once
// The few file-system calls the engine makes besides FileHandle, and the system's error code of
// both. Paths are code-page strings with "\" as the separator. Each call is one platform call;
// callers that ignore a result do so on purpose (resetting attributes and deleting are best-effort
// throughout the engine).

#include <cstdint>

// Resets a file's attributes to normal, so that a read-only file can be overwritten, replaced or
// deleted. False when the path does not exist.
bool setAttributesNormal(const char* path);
// Moves `from` over `to` in one step, replacing an existing file. Fails, leaving `to` unchanged,
// when `to` is a folder, is read-only, or is held open by a FileHandle.
bool moveReplacing(const char* from, const char* to);
// Deletes a file. Fails for a missing or read-only file.
bool deleteFile(const char* path);
// True when the path names an existing file whose read-only attribute is set. The lists are checked
// with it before they are rewritten: a move onto a read-only file fails on Windows but succeeds in
// some environments (Wine), so the updater does not leave the answer to the move.
bool isReadOnlyFile(const char* path);
// True when the path names an existing file or folder.
bool pathExists(const char* path);
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
