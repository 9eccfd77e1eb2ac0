#pragma once
// Bounded joining of NUL-terminated texts into a fixed buffer, for the paths and registry keys the
// updater composes. It formats nothing, so the updater carries no printf machinery.

#include <cstdint>
#include <initializer_list>

// Writes `parts` one after another into `buffer` of `size` bytes, with a terminating NUL. False
// when they would not fit with their NUL; the buffer then holds nothing usable.
bool joinText(char* buffer, uint32_t size, std::initializer_list<const char*> parts);
