#pragma once
// Reading a game folder for patchtool build: its files in name order, a list file that gives
// another order, and check values of whole files.

#include <string>
#include <vector>

#include "engine/check_value.h"

// The regular files directly in `folder`, sorted by their names' bytes. False, with a reason in
// `error`, when the folder cannot be read.
bool listFolderFiles(const std::string& folder, std::vector<std::string>& names, std::string& error);

// Names from a list file, one per line (LF or CR LF), blank lines skipped.
bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& error);

// The check value of a whole file, read in chunks.
bool checkValueOfFile(const std::string& path, CheckValue& value, std::string& error);
