#pragma once
// What patchtool does differently on POSIX and on Windows, each in one file of the pair
// platform_posix.cpp / platform_win32.cpp: files and terminals, the system's error texts, and the
// command line's encoding (UTF-8 on POSIX, the ANSI code page on Windows).

#include <cstdint>
#include <cstdio>
#include <string>

// True when the stream is a terminal (progress lines are shown only there).
bool isTerminal(std::FILE* stream);
// Switches a standard stream to binary, so that no byte of a file read from it is translated.
void setBinaryMode(std::FILE* stream);
// The size of the open file when it is a regular file (not a folder, device or pipe).
bool regularFileSize(std::FILE* stream, uint64_t& size);
// Creates `path` for writing, failing with errno EEXIST when it exists.
std::FILE* createExclusiveFile(const std::string& path);
unsigned processId();
bool syncToDisk(std::FILE* stream);
// Missing, or a regular file (not a folder, device or link) that a move may replace.
bool isReplaceableDestination(const std::string& path);
// Moves `from` over `to` in one step; errno tells why it failed.
bool moveOver(const std::string& from, const std::string& to);
// The folder of the running executable, links resolved; empty when the system cannot tell.
std::string ownExecutableFolder();

// The text of a system error code as the engine records it (errno on POSIX, GetLastError() on
// Windows), starting lower-case: "permission denied".
std::string describeSystemError(uint32_t code);

// True when `byte` starts a double-byte character of the command line's encoding, whose second
// byte may then be 0x5C and is no folder separator.
bool isCommandLineLeadByte(unsigned char byte);
