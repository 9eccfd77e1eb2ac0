#pragma once
// Code page 932 rules for names, paths and lines, which are byte strings in the ANSI code page.
//
// A lead byte (0x81-0x9F, 0xE0-0xFC) starts a double-byte character; the byte after it is never a
// character of its own, so searches step over double-byte characters as units and a trail byte
// 0x5C is never taken for a backslash.

#include <cstddef>

bool isLeadByte(unsigned char byte);

// First occurrence of the single-byte character `wanted` in the NUL-terminated `text`, stepping over
// double-byte characters; nullptr when there is none. A lead byte directly before the NUL ends the
// text (the NUL is not swallowed as its trail byte).
const char* findCharacter(const char* text, char wanted);
// The same search over the first `length` bytes of `text`, which need not be NUL-terminated.
const char* findCharacter(const char* text, size_t length, char wanted);
