#pragma once
// Checks on the names under which payload entries are installed, and the paths made from them.

#include <cstdint>

// True when `name` stays inside the install folder: not empty, not absolute, no drive, and no
// empty, "." or ".." component (components split on "\" and "/", double-byte characters as units),
// and it does not end in half a double-byte character.
bool isSafeTargetName(const char* name);

// Writes "<folder>\<name><suffix>" into `buffer` of `size` bytes; false, leaving the buffer
// undefined, when it would not fit with its NUL.
bool composePath(char* buffer, uint32_t size, const char* folder, const char* name, const char* suffix);
