#pragma once
// Reading a game folder for patchtool build: its files in name order (those directly in it, or
// every file below it), and a list file that gives another order.

#include <string>
#include <vector>

// The regular files in `folder`, as paths relative to it with "/" between folders, sorted by their
// bytes: those directly in it, or with `recursive` every one below it. False, with a reason in
// `error`, when the folder cannot be read.
bool listFolderFiles(const std::string& folder, bool recursive, std::vector<std::string>& names, std::string& error);

// Names from a list file, one per line (LF or CR LF), blank lines skipped.
bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& error);
