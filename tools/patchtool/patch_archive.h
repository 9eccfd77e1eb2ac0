#pragma once
// Opening a patch given on the command line the way the updater opens itself, for the commands
// that read one (list, verify).

#include <string>

class FileHandle;
struct PayloadArchive;

// Opens `path` and reads its archive header and index. False, after reporting why as `command`'s
// error, when the file cannot be opened or holds no usable archive.
bool openPatchArchive(const char* command, const std::string& path, FileHandle& patch, PayloadArchive& archive);
