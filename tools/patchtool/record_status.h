#pragma once
// What checking a file against its version record found, shared by verify (a patch's entries) and
// check (an install's files): the names their JSON and their text lines give it, the counts, and
// the text line of one file.

#include <cstdint>
#include <string>

#include "engine/check_value.h"
#include "tools/patchtool/json_output.h"

enum class RecordStatus : uint8_t { Ok, Mismatch, Unverified, Missing, Unreadable };
inline constexpr uint32_t recordStatusCount = static_cast<uint32_t>(RecordStatus::Unreadable) + 1;

// "ok", "mismatch", "unverified", "missing", "unreadable": the JSON status.
const char* recordStatusName(RecordStatus status);

struct RecordStatusCounts {
    uint32_t counts[recordStatusCount] = {};
    void add(RecordStatus status) { ++counts[static_cast<uint32_t>(status)]; }
    uint32_t operator[](RecordStatus status) const { return counts[static_cast<uint32_t>(status)]; }
};

// Prints "STATUS      NAME", the status upper-case where it is a fault, then for a mismatch
// "  (expected X, actual Y)", else "  (NOTE)" when there is a note.
void printRecordStatus(RecordStatus status, const std::string& name, const uint8_t* expected, const CheckValue& actual,
                       const std::string& note);

// A check value as lower-case hex, or null when there is none.
Json checkValueJson(const uint8_t* value);
