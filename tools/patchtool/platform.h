#pragma once
// What patchtool does differently on POSIX and on Windows, each in one file of the pair
// platform_posix.cpp / platform_win32.cpp: files and terminals, the system's error texts, and the
// encodings of paths.
//
// patchtool works in UTF-8 on both: its command line, the paths it opens and everything it prints.
// On Windows the command line is taken from the system as UTF-16 and files are opened by their
// UTF-16 names, so that what the publisher types means the same whatever the system's code page.
// Only the engine's own file calls (reading a patch or a version list as the updater reads it,
// apply and check in a game folder) take paths in the system's ANSI code page, as the updater does.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The command line's arguments as UTF-8.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// The file system's form of a UTF-8 path, and back: false when the name is not UTF-8 (on POSIX a
// name of other bytes; `utf8` then holds its bytes as they are, for messages).
std::filesystem::path fileSystemPath(const std::string& utf8);
bool utf8Path(const std::filesystem::path& path, std::string& utf8);

// fopen, remove, a new file (failing with errno EEXIST when it exists), on UTF-8 paths.
std::FILE* openFile(const std::string& path, const char* mode);
bool removeFile(const std::string& path);
std::FILE* createExclusiveFile(const std::string& path);
// Where `path` leads: the path of the file or folder it names, every link, junction and mount point
// on the way resolved. Empty, with `failure` set, when it leads nowhere. On Windows this is the
// path the system holds for the open object, which is also how Wine shows where a Unix link leads.
std::filesystem::path finalPath(const std::filesystem::path& path, std::error_code& failure);
// The same for a file already open: where the file that was opened lies, whatever its name leads
// to by now.
std::filesystem::path finalPathOfOpenFile(std::FILE* stream, std::error_code& failure);
// Missing, or a regular file (not a folder, device or link) that a move may replace.
bool isReplaceableDestination(const std::string& path);
// Moves `from` over `to` in one step; errno tells why it failed.
bool moveOver(const std::string& from, const std::string& to);

// A UTF-8 path as the engine's file calls take it; none when the system's ANSI code page cannot
// hold it (Windows). A folder the engine joins names to with "\" ends, on POSIX, in a "/" of its
// own: the engine reads its paths as code page 932 and turns "\" into "/", and a UTF-8 folder may
// end in a byte that code page 932 takes for a lead byte (あ is E3 81 82), which would take the
// joined "\" for its trail byte; after the "/" the scan always stands at the start of a character.
std::optional<std::string> engineFilePath(const std::string& path);
std::optional<std::string> engineFolderPath(const std::string& folder);

// Lets the console show what patchtool prints, UTF-8, for as long as it runs. On Windows the
// console's output code page (the ANSI one, 932 on a Japanese PC) becomes UTF-8 and is set back
// when patchtool ends, however it ends: its return, an exit, or Ctrl-C. POSIX terminals take
// UTF-8 as they are.
void useUtf8Console();

// True when the stream is a terminal (progress lines are shown only there).
bool isTerminal(std::FILE* stream);
// Switches a standard stream to binary, so that no byte of a file read from it is translated.
void setBinaryMode(std::FILE* stream);
// The size of the open file when it is a regular file (not a folder, device or pipe).
bool regularFileSize(std::FILE* stream, uint64_t& size);
unsigned processId();
bool syncToDisk(std::FILE* stream);
// The folder of the running executable, links resolved; empty when the system cannot tell.
std::string ownExecutableFolder();

// The text of a system error code as the engine records it (errno on POSIX, GetLastError() on
// Windows), starting lower-case: "permission denied".
std::string describeSystemError(uint32_t code);
