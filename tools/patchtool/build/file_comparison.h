#pragma once
// The first look at a file of a new release: its bytes are folded into a check value and compared,
// in the same pass, side by side with the files of the same name in earlier releases. Whether a
// file changed is decided by its bytes: two different files with one check value are two files.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/check_value.h"

struct ComparedFile {
    uint64_t size = 0;
    CheckValue value;
    std::vector<bool> same;  // per earlier file: it holds exactly these bytes
};

// Reads `path` whole through `buffer` and compares it with each of `others` (an empty path stands
// for a release that lacks the file) through `otherBuffer`, both fileChunkSize bytes. False, with a
// reason in `error`, when a file cannot be read or `path` changes its size while it is read.
bool compareFile(const std::string& path, const std::vector<std::string>& others, ComparedFile& compared,
                 uint8_t* buffer, uint8_t* otherBuffer, std::string& error);
