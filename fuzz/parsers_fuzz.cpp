// The parsers on hostile bytes; the first byte chooses one:
//   0  the payload archive and its version list: the rest is the patch from 0x60000 on (none: shorter);
//   1  pruning TLX.hvl: a fault byte, a byte whose bit i creates the file of record i, then TLX.hvl;
//   2  merging uninst.lst: a fault byte, a u16 text length (bit 15: no list), text, NUL-separated names.
#include <algorithm>
#include <vector>

#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "engine/uninstall_list.h"
#include "engine/version_list.h"
#include "fuzz/fuzz_support.h"

namespace {

// More than 32 entries are refused.
void payload(const std::string& tail) {
    const std::string path = freshFolder("payload") + "/patch.bin";
    writeFile(path, bytesOf(tail), tail.empty() ? 0 : payloadOffset);
    FileHandle file;
    PayloadArchive archive;
    const UpdateResult result = file.openRead(path.c_str()) ? archive.open(file) : PayloadDamaged;
    const uint32_t count = tail.size() < 16 ? 0 : readU32(reinterpret_cast<const uint8_t*>(tail.data()) + 12);
    FUZZ_CHECK((count > maxArchiveEntries) == (result == TooManyEntries), "the entry limit");
    const std::optional<uint32_t> index = result == Ok ? findVersionListEntry(archive) : std::nullopt;
    if (index) VersionList().loadFromArchive(file, archive, *index);
}

// TLX.hvl ends as it was or with exactly the records whose names stand for something; nothing else changes.
void prune(Input& in) {
    const uint8_t fault = in.byte(), create = in.byte();
    const std::string list = in.rest(), folder = freshFolder("prune");
    writeFile(folder + "/TLX.hvl", bytesOf(list));
    const auto* bytes = reinterpret_cast<const uint8_t*>(list.data());
    const VersionListVersion version = list.size() < 16 ? VersionListVersion::None : versionListVersionOf(bytes);
    const uint32_t size = versionRecordLayout(version).recordSize, field = versionRecordLayout(version).nameField;
    const uint64_t count = version == VersionListVersion::None ? 0 : readU32(bytes + 12);
    bool whole = version != VersionListVersion::None && 16 + count * size <= list.size();
    std::vector<std::string> names;
    for (uint64_t i = 0; whole && i < count; ++i) {
        names.push_back(
            list.substr(16 + i * size, std::min<size_t>(list.find('\0', 16 + i * size) - 16 - i * size, field)));
        const bool plain = names[i].find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789._-") == names[i].npos;
        if (i < 8 && (create >> i & 1) && plain && names[i].find_first_not_of('.') != names[i].npos)
            writeFile(folder + "/" + names[i], {});  // a file for the record, where the input says so
    }
    // A record stays when its name is one the updater cannot follow into the folder, or stands for
    // something there (the names with files are plain, so a "\\" in one never reaches a file).
    std::string pruned = list.substr(0, 16);
    for (uint64_t i = 0; i < names.size(); ++i) {
        std::string path = names[i];
        std::replace(path.begin(), path.end(), '\\', '/');
        if (!isSafeTargetName(names[i].c_str()) || fs::exists(folder + "/" + path))
            pruned += list.substr(16 + i * size, size);
    }
    if (whole) writeU32(reinterpret_cast<uint8_t*>(pruned.data()) + 12, (pruned.size() - 16) / size);
    Snapshot before = snapshot(folder);
    const bool disturbed = injectFaultOf(fault);
    VersionList::pruneInstalled(folder.c_str());
    clearFaults();
    const Snapshot after = snapshot(folder);
    before["TLX.hvl"] = after.at("TLX.hvl");
    FUZZ_CHECK(after == before, "pruning changes nothing but TLX.hvl and leaves no temporary file");
    const std::string hvl(after.at("TLX.hvl").begin(), after.at("TLX.hvl").end());
    FUZZ_CHECK(hvl == (whole && !disturbed ? pruned : list) || (whole && hvl == pruned),
               "TLX.hvl is the pruned list, or the old one where it cannot be pruned or a file operation failed");
}

// Fails leaving the list as it was, or (simple names) writes "$" lines last, and a re-merge keeps it.
void merge(Input& in) {
    const uint8_t fault = in.byte();
    const uint32_t length = in.byte() | in.byte() << 8;
    const std::string text = in.rest(length & 0x7FFF), rest = in.rest(), folder = freshFolder("merge");
    std::vector<std::string> names(rest.empty() ? 0 : 1);
    for (const char c : rest) c == '\0' ? names.emplace_back() : names.back() += c;
    std::vector<const char*> pointers;
    bool simple = true;  // lower-case printable ASCII names that a line holds as they are
    for (const std::string& name : names) {
        pointers.push_back(name.c_str());
        simple = simple && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789._\\ ") == std::string::npos &&
                 !name.empty() && name[0] != ' ';
    }
    pointers.push_back(nullptr);
    if (!(length & 0x8000)) writeFile(folder + "/uninst.lst", bytesOf(text));
    const Snapshot before = snapshot(folder);
    const bool disturbed = injectFaultOf(fault);
    const bool merged = mergeUninstallList(folder.c_str(), pointers.data());
    clearFaults();
    const Snapshot after = snapshot(folder);
    FUZZ_CHECK(after.size() == before.size(), "the merge leaves no temporary file and creates no list");
    FUZZ_CHECK(merged || after == before, "a failed merge leaves the list as it was");
    FUZZ_CHECK(disturbed || merged == (!(length & 0x8000) && !text.empty()), "only a missing or empty list fails");
    if (!merged) return;
    const std::string out(after.at("uninst.lst").begin(), after.at("uninst.lst").end());
    if (!simple) return;
    bool dollar = false, ascii = std::none_of(text.begin(), text.end(), [](char c) { return c & 0x80; });
    for (size_t at = 0; ascii && at + 1 < out.size(); at = out.find('\n', at) + 1) {  // a trail byte may be LF
        FUZZ_CHECK(!dollar || out[at] == '$', "the \"$\" lines come last");
        dollar = out[at] == '$';
    }
    const char* none = nullptr;
    FUZZ_CHECK(mergeUninstallList(folder.c_str(), &none) && snapshot(folder) == after, "the merged list is normalised");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{std::string(reinterpret_cast<const char*>(data), size)};
    const uint8_t choice = in.byte();
    if (choice == 0) payload(in.rest());
    if (choice == 1) prune(in);
    if (choice == 2) merge(in);
    return 0;
}
