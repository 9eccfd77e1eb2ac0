#pragma once
// The engine builds paths with "\" as the separator, as on Windows. Where such a path meets a
// POSIX system call, each separator becomes "/"; a 0x5C that is the trail byte of a double-byte
// character stays as it is.

#include <string>

std::string toNativePath(const char* enginePath);
