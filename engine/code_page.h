#pragma once
// Code page rules for names, paths and lines, which are byte strings in the ANSI code page.
//
// A lead byte starts a double-byte character; the byte after it is never a character of its own,
// so searches step over double-byte characters as units and a trail byte 0x5C is never taken for a
// backslash. On Windows the lead bytes are those of the system's ANSI code page (none on a
// single-byte code page such as 1252); elsewhere they are code page 932's, 0x81-0x9F and 0xE0-0xFC.
//
// The updater reads every name with the system's rules. The names inside a patch are code page 932
// bytes, though, and the publisher's tool judges them as such on every system; the name helpers
// therefore take the rules they apply as a CodePage, the system's unless told otherwise.

#include <cstddef>
#include <cstdint>

bool isLeadByte(unsigned char byte);

// True when the byte is the superscript digit one, two or three of the system's code page, which
// Windows takes as a digit of the device names COM and LPT. Code page 1252 has them (0xB9, 0xB2,
// 0xB3); code page 932 has none, its bytes there being half-width katakana.
bool isSuperscriptDigit(unsigned char byte);

// First occurrence of the single-byte character `wanted` in the NUL-terminated `text`, stepping over
// double-byte characters; nullptr when there is none. A lead byte directly before the NUL ends the
// text (the NUL is not swallowed as its trail byte).
const char* findCharacter(const char* text, char wanted);
// The same search over the first `length` bytes of `text`, which need not be NUL-terminated.
const char* findCharacter(const char* text, size_t length, char wanted);

// The name lower-casing rule, in place on the NUL-terminated `name`, character by character: a
// single byte changes only when it is "A" to "Z"; a double-byte character is replaced by its
// lower-case form (full-width capitals become full-width small letters). Should the mapping of a
// double-byte character fail, the name becomes empty. On Windows this is the platform's own
// mapping for the process code page; elsewhere it is the table below.
void lowerCaseName(char* name);

// The lower-case form of one double-byte character (lead byte << 8 | trail byte) from the table of
// code page 932 characters that have one; the character itself when it has none.
uint16_t lowerCaseDoubleByte(uint16_t character);

// The rules of one code page, as the name helpers apply them.
struct CodePage {
    bool (*isLeadByte)(unsigned char byte);
    void (*lowerCaseName)(char* name);
    bool (*isSuperscriptDigit)(unsigned char byte);
};
// The system's ANSI code page: the functions above.
extern const CodePage systemCodePage;
// Code page 932 whatever the system: its lead bytes, the table's lower-casing and no superscript
// digits (its bytes 0xB2, 0xB3 and 0xB9 are half-width katakana).
extern const CodePage codePage932;
bool isCodePage932LeadByte(unsigned char byte);
void lowerCaseCodePage932Name(char* name);

// Two names are equal when their lower-cased forms are equal byte for byte; `lowerKey` is already
// lower-case. `name` is copied into a bounded work buffer first and never changed.
bool nameEqualsLowerKey(const char* name, const char* lowerKey, const CodePage& codePage = systemCodePage);
