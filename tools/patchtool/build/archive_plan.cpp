#include "tools/patchtool/build/archive_plan.h"

#include <utility>

#include "engine/target_name.h"
#include "engine/version_list.h"
#include "formats/payload_archive_writer.h"
#include "formats/version_list_writer.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/build/run_names.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/name_encoding.h"

namespace {

// The updater seeks with a signed 32-bit distance: every entry must start below 2 GiB.
constexpr uint64_t seekLimit = 0x80000000ull;

// One entry: installed under `givenName` (as typed), read from `path`.
bool planEntry(const EntrySource& source, ArchiveLayout layout, PlannedEntry& entry, std::string& error) {
    const std::string& givenName = source.givenName;
    const std::string& path = source.path;
    entry.path = path;
    entry.givenName = givenName;
    entry.recorded = source.recorded;
    entry.releaseFolder = source.releaseFolder;
    const std::string operand = givenName + "=" + path;
    if (entry.path.empty()) {
        error = refused("entry '" + operand + "'", refusal::noFile);
        return false;
    }
    if (entry.givenName.empty()) {
        error = refused("entry '" + operand + "'", refusal::emptyName);
        return false;
    }
    const std::optional<std::string> encoded = utf8ToCodePage932(entry.givenName);
    if (!encoded) {
        error = refused("entry name '" + entry.givenName + "'", refusal::notCodePage932);
        return false;
    }
    entry.name = *encoded;
    if (!isSafeTargetName(entry.name.c_str(), codePage932)) {
        error = refused("entry name '" + entry.givenName + "'", refusal::refusedName,
                        "it would be installed outside the game folder or under another name: absolute, a drive or "
                        "':', an empty, '.' or '..' part, a part ending in '.' or a space, a device name such as CON "
                        "or LPT1, or one of <>\"|?* or a control character");
        return false;
    }
    const uint32_t longest = layoutInfo(layout).nameField - 1;
    if (entry.name.size() > longest) {
        error = refused("entry name '" + entry.givenName + "'", refusal::tooLongForIndex,
                        std::to_string(entry.name.size()) + " bytes in code page 932; the " +
                            (layout == ArchiveLayout::Current ? "current" : "legacy") + " layout holds at most " +
                            std::to_string(longest));
        return false;
    }
    uint64_t size = 0;
    if (!openInputFile(entry.path, size, error)) return false;
    if (size > 0xFFFFFFFFull) {
        error = refused(entry.path, refusal::fileTooLarge, "entries are limited to 4 GiB - 1 bytes");
        return false;
    }
    if (entry.recorded && entry.recorded->size != size) {
        error = changedWhileBuilding(entry.path, "size");
        return false;
    }
    entry.size = static_cast<uint32_t>(size);
    return true;
}

}  // namespace

std::string changedWhileBuilding(const std::string& path, const char* what) {
    return refused(path, refusal::changedWhileBuilding,
                   std::string("its ") + what + " is no longer the one compared and recorded; no patch was written");
}

bool planEntries(const ChosenEntries& chosen, ArchiveLayout layout, std::vector<PlannedEntry>& entries,
                 std::string& error) {
    const std::vector<EntrySource>& sources = chosen.sources;
    const std::optional<size_t>& listRecords = chosen.listRecords;
    const size_t total = sources.size() + (listRecords ? 1 : 0);
    if (total > maxArchiveEntries) {
        error = refused(std::to_string(total) + " entries" + (listRecords ? " with the version list" : ""),
                        refusal::tooManyEntries);
        return false;
    }
    for (const EntrySource& source : sources) {
        PlannedEntry entry;
        if (!planEntry(source, layout, entry, error)) return false;
        for (const PlannedEntry& earlier : entries) {
            if (foldedName(earlier.name) == foldedName(entry.name)) {
                error = refused("entry name '" + entry.givenName + "'", refusal::givenTwice,
                                "names are compared without regard to case or to '/' against '\\', as the updater "
                                "finds them");
                return false;
            }
        }
        entries.push_back(entry);
    }
    if (listRecords) {
        PlannedEntry list;
        list.givenName = list.name = versionListName;
        list.size = versionListHeaderSize + static_cast<uint32_t>(*listRecords) * versionRecordLayoutV2.recordSize;
        list.generatedList = true;
        entries.push_back(list);
    }
    // The updater refuses a patch whose entry would stand at a name it writes for itself.
    std::vector<NamedFile> named;
    for (const PlannedEntry& entry : entries) named.push_back({entry.givenName, foldedName(entry.name)});
    const std::vector<std::string> clashes = filesAtRunNames(named, named);
    if (clashes.empty()) return true;
    error = clashes.front();
    return false;
}

bool planArchive(const std::vector<PlannedEntry>& entries, ArchiveLayout layout, std::vector<uint8_t>& head,
                 uint64_t& patchSize, std::string& error) {
    std::vector<PayloadEntryShape> shapes;
    for (const PlannedEntry& entry : entries) shapes.push_back({entry.name, entry.size});
    std::optional<std::vector<uint8_t>> made = makePayloadArchiveHead(shapes, layout);
    patchSize = static_cast<uint64_t>(payloadOffset) + (made ? made->size() : 0);
    for (const PlannedEntry& entry : entries) {
        if (patchSize >= seekLimit) {
            error = refused("entry '" + entry.givenName + "'", refusal::startsTooLate,
                            "at byte " + std::to_string(patchSize) + "; the updater reads entries that start below it");
            return false;
        }
        patchSize += entry.size;
    }
    if (!made || patchSize > 0xFFFFFFFFull) {
        error = refused("", refusal::patchTooLarge, "patches stay below 4 GiB");
        return false;
    }
    head = std::move(*made);
    return true;
}
