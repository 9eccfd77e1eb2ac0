// The installed version list: VersionList::pruneInstalled on a folder that the fuzzer fills.
//
// Input: a control byte (bits 0-2: the kind of file operation to disturb, 0 open, 1 read,
// 2 write, 3 seek, 4 move, anything else none; bit 3: make it come back short instead of failing;
// bit 4: no TLX.hvl at all), a byte choosing which of those operations (1-8), a byte whose bit i
// creates the file named by record i (i < 8; only plain names are created), a byte whose bit i
// makes that a folder instead, then the bytes of TLX.hvl. The folder also holds an unrelated file.
//
// Properties: nothing but TLX.hvl changes in the folder, and no temporary file is left; without a
// disturbed operation TLX.hvl is exactly the reference pruning (or unchanged where the reference
// keeps it), with one it is either that or unchanged; no list means no list afterwards.
#include <cstring>
#include <filesystem>

#include "engine/platform/fault_injection.h"
#include "engine/version_list.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference.h"

namespace {

// A record name made only of plain components, which can be created below the folder without
// leaving it; its native form with "/" between components.
std::optional<std::string> plainNativeName(const std::string& name) {
    if (name.empty() || name.size() > 100) return std::nullopt;
    std::string native;
    std::string component;
    for (size_t i = 0; i <= name.size(); ++i) {
        const char c = i < name.size() ? name[i] : '\0';
        if (c == '\0' || c == '\\' || c == '/') {
            if (component.empty() || component == "." || component == "..") return std::nullopt;
            native += (native.empty() ? "" : "/") + component;
            component.clear();
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                   c == '-') {
            component += c;
        } else {
            return std::nullopt;
        }
    }
    if (native == "TLX.hvl" || native == versionListPruneName) return std::nullopt;
    return native;
}

// Record names of a list of either version, as far as the bytes hold them.
std::vector<std::string> recordNames(const Bytes& list) {
    std::vector<std::string> names;
    if (list.size() < 16) return names;
    const bool v2 = std::memcmp(list.data(), "QTS_V2__", 8) == 0;
    const bool v1 = std::memcmp(list.data(), "QTS_____", 8) == 0;
    if (!v2 && !v1) return names;
    const size_t recordSize = v2 ? 256 : 64;
    const size_t nameWidth = v2 ? 248 : 56;
    for (size_t at = 16; at + recordSize <= list.size() && names.size() < 8; at += recordSize) {
        size_t length = 0;
        while (length < nameWidth && list[at + length] != 0) ++length;
        names.emplace_back(reinterpret_cast<const char*>(list.data() + at), length);
    }
    return names;
}

void createBelow(const std::string& folder, const std::string& native, bool asFolder) {
    namespace fs = std::filesystem;
    const fs::path path = fs::path(folder) / native;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (error) return;  // a file stands where a folder would have to be
    if (asFolder) {
        fs::create_directory(path, error);
    } else if (!fs::exists(path, error)) {
        writeFile(path.string(), native);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input{data, size};
    const uint8_t control = input.byte();
    const uint32_t nth = 1 + input.byte() % 8;
    const uint8_t createMask = input.byte();
    const uint8_t folderMask = input.byte();
    const Bytes list = input.rest();
    const uint8_t operation = control & 7;
    const bool disturbed = operation < 5;
    const bool withList = !(control & 16);

    const std::string folder = scratchRoot() + "/folder";
    emptyFolder(folder);
    writeFile(folder + "/other.arc", "other");
    if (withList) writeFile(folder + "/TLX.hvl", list);
    const std::vector<std::string> names = recordNames(list);
    for (size_t i = 0; i < names.size(); ++i) {
        if (!(createMask & (1u << i))) continue;
        if (const std::optional<std::string> native = plainNativeName(names[i])) {
            createBelow(folder, *native, folderMask & (1u << i));
        }
    }

    const Tree before = snapshotTree(folder);
    const std::optional<Bytes> expected = withList ? referencePrune(list, folder) : std::nullopt;
    if (disturbed) {
        injectFault(static_cast<FaultOperation>(operation), nth, control & 8 ? FaultEffect::Short : FaultEffect::Fail);
    }
    VersionList::pruneInstalled(folder.c_str());
    clearFaults();
    const Tree after = snapshotTree(folder);

    Tree afterWithoutList = after;
    Tree beforeWithoutList = before;
    afterWithoutList.erase("TLX.hvl");
    beforeWithoutList.erase("TLX.hvl");
    FUZZ_CHECK(beforeWithoutList == afterWithoutList, "pruning changed more than TLX.hvl:%s",
               describeDifference(before, after).c_str());
    if (!withList) {
        FUZZ_CHECK(after.count("TLX.hvl") == 0, "pruning created a list");
        return 0;
    }
    const auto found = after.find("TLX.hvl");
    FUZZ_CHECK(found != after.end() && !found->second.folder, "TLX.hvl is gone");
    const Bytes& now = found->second.bytes;
    if (expected && now == *expected) return 0;
    FUZZ_CHECK(now == list, "TLX.hvl is neither the old list nor the pruned one (%zu bytes, old %zu, pruned %zu)",
               now.size(), list.size(), expected ? expected->size() : 0);
    FUZZ_CHECK(!expected || disturbed, "TLX.hvl was left unpruned although nothing failed (pruned: %s)",
               printable(*expected).substr(0, 200).c_str());
    return 0;
}
