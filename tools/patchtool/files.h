#pragma once
// patchtool's own file plumbing, with paths taken as the operating system takes them: input files
// opened with their size known, and output written under a temporary name beside its
// destination and moved over it only once complete, so that a failed or interrupted run never
// leaves a partial patch under the destination's name.

#include <cstdint>
#include <cstdio>
#include <string>

// True when the stream is a terminal (progress lines are shown only there).
bool isTerminal(std::FILE* stream);

// Opens a regular file for binary reading and tells its size. Null, with a reason in `error`,
// when the file is missing, unreadable or not a regular file.
std::FILE* openInputFile(const std::string& path, uint64_t& size, std::string& error);

struct PendingFile {
    std::string destination;
    std::string temporary;
    std::FILE* stream = nullptr;
};

// Creates a fresh temporary file beside `destination`. False, with a reason in `error`, also when
// the destination exists but is no regular file (a folder, a device, a symbolic link).
bool createPendingFile(const std::string& destination, PendingFile& pending, std::string& error);
// Flushes the data to the disk, closes the file and moves it over the destination in one step.
// On failure the temporary file is removed and the destination is left as it was.
bool commitPendingFile(PendingFile& pending, std::string& error);
// Closes and removes the temporary file; the destination is left as it was.
void discardPendingFile(PendingFile& pending);
