#pragma once
// How patchtool reports: errors as one line "patchtool: COMMAND: MESSAGE" on standard error, and
// the exit statuses every command shares.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/update_result.h"

inline constexpr int exitOk = 0;
inline constexpr int exitFailed = 1;  // the work could not be done (bad input file, write failed)
inline constexpr int exitUsage = 2;   // the command line itself is wrong

void printError(const char* command, const std::string& message);
// "--help" hint appended to usage errors.
int usageError(const char* command, const std::string& message);

// The result's name ("TooManyEntries", or "unknown result"), its code ("0x80000002"), and both
// together, e.g. "TooManyEntries (0x80000002)".
std::string resultName(UpdateResult result);
std::string resultCode(UpdateResult result);
std::string describeResult(UpdateResult result);

// A count with its noun, which agrees with it: "1 file", "2 files", "0 entries".
std::string countOf(uint64_t count, const char* singular, const char* plural);

// Bytes as lower-case hex digits, two per byte.
std::string lowerHex(const uint8_t* bytes, size_t count);

// The reason of the last failed C library call (errno), e.g. "No such file or directory".
std::string lastSystemError();
