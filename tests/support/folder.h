#pragma once
// Test folders: a fresh temporary folder removed with everything in it, whole-file helpers, and
// snapshots of a folder tree that can be written back and compared. Plain C++, no test framework.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
// Every file under a folder, by its "/"-separated path relative to the folder.
using Snapshot = std::map<std::string, Bytes>;

struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    std::string file(const std::string& name) const;  // the folder joined with a relative name

    std::string path;  // without a trailing separator
};

Bytes bytesOf(const std::string& text);
// Creates the file's folders; writes `bytes` from `position` on, the bytes before it a hole of zeros.
void writeFile(const std::string& path, const Bytes& bytes, size_t position = 0);
Bytes readFile(const std::string& path);

Snapshot snapshot(const std::string& folder);
// Empties the folder (read-only files included) and writes the snapshot's files into it.
void restore(const std::string& folder, const Snapshot& files);
// "" when both hold the same files with the same bytes; otherwise " +name" for a file only in
// `actual`, " -name" for one only in `expected`, " ~name" for one whose bytes differ.
std::string difference(const Snapshot& actual, const Snapshot& expected);

// While set, every array allocation fails, as when memory runs out (tests/support/failing_allocation.cpp).
extern bool failArrayAllocations;
