#pragma once
// The few file-system calls the engine makes besides FileHandle. Paths are code-page strings with
// "\" as the separator. Each call is one platform call; callers that ignore a result do so on
// purpose (resetting attributes and deleting are best-effort throughout the engine).

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
