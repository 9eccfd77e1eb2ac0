#pragma once
// Checks on the names under which payload entries are installed, and the paths made from them.

#include <cstdint>

#include "engine/code_page.h"

// True when `name` stays inside the install folder and names there the file it spells on Windows:
// components split on "\" and "/" (double-byte characters as units), none of them empty, ending in
// "." or a space (which Windows strips, so "." and ".." too), or a device name (CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, in any case, with any extension and spaces before it, and
// where the code page has them COM and LPT with a superscript digit); no ":" (a drive or a stream),
// none of <>"|?* and no byte below 0x20; and it does not end in half a double-byte character.
// Characters are those of `codePage`.
bool isSafeTargetName(const char* name, const CodePage& codePage = systemCodePage);

// Writes "<name><suffix>" into `folded` of `size` bytes in the form under which Windows finds the
// file, so that two names of one file compare equal: lower-cased, with "/" read as "\" (double-byte
// characters of `codePage` as units). False when it would not fit with its NUL.
bool foldTargetName(char* folded, uint32_t size, const char* name, const char* suffix,
                    const CodePage& codePage = systemCodePage);

// The length of the first component of `name`: its bytes up to the first "\" or "/" (double-byte
// characters of `codePage` as units), or up to its end.
uint32_t componentLength(const char* name, const CodePage& codePage = systemCodePage);
// The last component of `name`, split as componentLength splits it; points into `name`.
const char* lastComponent(const char* name, const CodePage& codePage = systemCodePage);

// Writes "<folder>\<name><suffix>" into `buffer` of `size` bytes; false, leaving the buffer
// undefined, when it would not fit with its NUL.
bool composePath(char* buffer, uint32_t size, const char* folder, const char* name, const char* suffix);
