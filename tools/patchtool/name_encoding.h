#pragma once
// Entry names travel between two encodings: the archive holds code page 932 bytes, while the
// publisher types names, names files and reads listings in UTF-8. The names inside a patch are
// judged, folded, split and shown by code page 932's rules on every system, never by those of the
// system patchtool runs on.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// A UTF-8 name as code page 932 bytes. Nothing when a character has no exact code page 932 form
// (no best-fit substitutes: a yen sign must not turn into a backslash).
std::optional<std::string> utf8ToCodePage932(const std::string& name);

// Code page 932 bytes as UTF-8, character by character. A byte or pair that is no character of the
// code page, and a lead byte at the end, become U+FFFD; the raw bytes are shown elsewhere.
std::string codePage932ToUtf8(const char* bytes, size_t length);

// The Unicode scalar value of one double-byte character, or 0 when the pair is no character.
uint32_t decodeDoubleByteCharacter(uint8_t lead, uint8_t trail);

// A code page 932 name in the form under which Windows finds the file (lower-cased, "/" read as
// "\"), for comparing two names as the updater compares them; empty when it fits no path.
std::string foldedName(const std::string& name);
