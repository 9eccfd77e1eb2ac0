#include "tools/patchtool/record_status.h"

#include <cstdio>

#include "tools/patchtool/report.h"

namespace {

struct StatusNames {
    const char* json;
    const char* shown;
};
constexpr StatusNames statusNames[] = {
    {"ok", "ok"},           {"mismatch", "MISMATCH"},     {"unverified", "unverified"},
    {"missing", "MISSING"}, {"unreadable", "UNREADABLE"},
};
static_assert(sizeof statusNames / sizeof *statusNames == recordStatusCount);

}  // namespace

const char* recordStatusName(RecordStatus status) { return statusNames[static_cast<uint32_t>(status)].json; }

void printRecordStatus(RecordStatus status, const std::string& name, const uint8_t* expected, const CheckValue& actual,
                       const std::string& note) {
    std::printf("%-10s  %s", statusNames[static_cast<uint32_t>(status)].shown, name.c_str());
    if (status == RecordStatus::Mismatch) {
        std::printf("  (expected %s, actual %s)", lowerHex(expected, checkValueSize).c_str(),
                    lowerHex(actual.bytes(), checkValueSize).c_str());
    } else if (!note.empty()) {
        std::printf("  (%s)", note.c_str());
    }
    std::printf("\n");
}

Json checkValueJson(const uint8_t* value) { return value != nullptr ? Json(lowerHex(value, checkValueSize)) : Json(); }
