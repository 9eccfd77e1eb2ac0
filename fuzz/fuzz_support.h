#pragma once
// Pieces shared by the fuzz targets.
#include <filesystem>

#include "engine/platform/fault_injection.h"
#include "tests/support/folder.h"

// A property that does not hold is a finding: libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what) \
    if (!(condition)) std::fprintf(stderr, "\nFUZZ_CHECK failed: %s (%s)\n", what, #condition), std::abort()

namespace fs = std::filesystem;

// The fuzzer's bytes from the front; past the end every byte is 0.
struct Input {
    std::string bytes;
    size_t at = 0;
    uint8_t byte() { return at < bytes.size() ? static_cast<uint8_t>(bytes[at++]) : 0; }
    std::string rest(size_t count = std::string::npos) {
        const std::string taken = at < bytes.size() ? bytes.substr(at, count) : "";
        return at += taken.size(), taken;
    }
};

// Disturbs the file operation a byte names: bits 0-2 its kind (0 open, 1 read, 2 write, 3 seek,
// 4 move, others none), bit 3 short instead of failed, bits 4-7 which one (1, 3, ..., 31).
inline bool injectFaultOf(uint8_t byte) {
    if ((byte & 7) >= static_cast<uint8_t>(FaultOperation::Count)) return false;
    injectFault(FaultOperation(byte & 7), 1u + (byte >> 4) * 2u, byte & 8 ? FaultEffect::Short : FaultEffect::Fail);
    return true;
}

// An empty folder in this process's scratch folder, which goes when the process ends.
inline std::string freshFolder(const std::string& name) {
    static const struct Scratch {
        std::string path = (fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + std::string("/vennholt-fuzz-XXXXXX");
        Scratch() { FUZZ_CHECK(::mkdtemp(path.data()) != nullptr, "a scratch folder"); }
        ~Scratch() { fs::remove_all(path); }
    } scratch;
    fs::remove_all(scratch.path + "/" + name);
    fs::create_directories(scratch.path + "/" + name);
    return scratch.path + "/" + name;
}
