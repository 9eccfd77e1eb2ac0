#pragma once
// The result of an update run. Every failure has the top bit set; the host turns each value into
// the message the player sees.

#include <cstdint>

enum UpdateResult : uint32_t {
    Ok = 0,
    PayloadDamaged = 0x80000001u,  // also the value a run starts with
    TooManyEntries = 0x80000002u,
    // 0x80000003 is never produced; the host shows it like PayloadDamaged.
    FileWriteFailed = 0x80000004u,
    UninstallListFailed = 0x80000005u,
    Aborted = 0x80000006u,
    Cancelled = 0x80000007u,
};

// The result's name as tools and logs show it ("TooManyEntries"); nullptr for any other value.
constexpr const char* updateResultName(UpdateResult result) {
    switch (result) {
        case Ok: return "Ok";
        case PayloadDamaged: return "PayloadDamaged";
        case TooManyEntries: return "TooManyEntries";
        case FileWriteFailed: return "FileWriteFailed";
        case UninstallListFailed: return "UninstallListFailed";
        case Aborted: return "Aborted";
        case Cancelled: return "Cancelled";
    }
    return nullptr;
}
