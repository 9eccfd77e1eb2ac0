// patchtool build: a patch from a setup.exe stub and the files it is to install.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/check_value.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "formats/payload_archive_writer.h"
#include "formats/version_list_writer.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/game_folder.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/release_comparison.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/stub_location.h"

namespace {

constexpr const char* command = "build";
// The updater seeks with a signed 32-bit distance: every entry must start below 2 GiB.
constexpr uint64_t seekLimit = 0x80000000ull;

struct PlannedEntry {
    std::string path;
    std::string givenName;  // as typed, for messages
    std::string name;       // code page 932 bytes, as stored
    uint32_t size = 0;
    bool generatedList = false;  // the version list made by this build from the packed files
};

constexpr char versionListName[] = "TLX.hvl";

// One entry: installed under `givenName` (as typed), read from `path`.
bool planEntry(const std::string& givenName, const std::string& path, ArchiveLayout layout, PlannedEntry& entry,
               std::string& error) {
    entry.path = path;
    entry.givenName = givenName;
    const std::string operand = givenName + "=" + path;
    if (entry.path.empty()) {
        error = "entry '" + operand + "' names no file";
        return false;
    }
    if (entry.givenName.empty()) {
        error = "entry '" + operand + "' has an empty name";
        return false;
    }
    const std::optional<std::string> encoded = commandLineNameToCodePage932(entry.givenName);
    if (!encoded) {
        error = "entry name '" + entry.givenName + "' has characters that code page 932 cannot hold";
        return false;
    }
    entry.name = *encoded;
    if (!isSafeTargetName(entry.name.c_str())) {
        error = "entry name '" + entry.givenName +
                "' would be installed outside the game folder or under another name (absolute, a drive or ':', "
                "an empty, '.' or '..' part, a part ending in '.' or a space, a device name such as CON or LPT1, "
                "or one of <>\"|?* or a control character)";
        return false;
    }
    const uint32_t longest = layoutInfo(layout).nameField - 1;
    if (entry.name.size() > longest) {
        error = "entry name '" + entry.givenName + "' is " + std::to_string(entry.name.size()) +
                " bytes in code page 932; the " + (layout == ArchiveLayout::Current ? "current" : "legacy") +
                " layout holds at most " + std::to_string(longest);
        return false;
    }
    uint64_t size = 0;
    if (!openInputFile(entry.path, size, error)) return false;
    if (size > 0xFFFFFFFFull) {
        error = entry.path + ": 4 GiB or larger; entries are limited to 4 GiB - 1 bytes";
        return false;
    }
    entry.size = static_cast<uint32_t>(size);
    return true;
}

// Copies exactly `count` bytes; the file must neither end early nor hold more.
bool copyExactly(std::FILE* from, const std::string& fromPath, uint64_t count, PendingFile& to, uint8_t* buffer,
                 CheckValue* value, std::string& error) {
    while (count > 0) {
        const size_t wanted = count < fileChunkSize ? static_cast<size_t>(count) : fileChunkSize;
        const size_t moved = std::fread(buffer, 1, wanted, from);
        if (moved < wanted) {
            error = fromPath + (std::ferror(from) ? ": " + lastSystemError() : ": became shorter while being read");
            return false;
        }
        if (value != nullptr) value->update(buffer, static_cast<uint32_t>(moved));
        if (!to.write(buffer, moved, error)) return false;
        count -= moved;
    }
    if (std::fgetc(from) != EOF) {
        error = fromPath + ": grew while being read";
        return false;
    }
    return true;
}

bool copyFile(const std::string& path, uint64_t expectedSize, PendingFile& to, uint8_t* buffer, CheckValue* value,
              std::string& error) {
    uint64_t size = 0;
    const OwnedFile from = openInputFile(path, size, error);
    if (!from) return false;
    if (size == expectedSize) return copyExactly(from.get(), path, size, to, buffer, value, error);
    error = path + ": changed while the patch was being built";
    return false;
}

// Stub, zero padding, header and index, then every entry's bytes in order.
// A generated version list is the last entry; its records, given beforehand or gathered from
// the packed files' check values while they are copied, are written once all of them are known.
bool writePatch(const std::string& stubPath, uint64_t stubSize, const std::vector<uint8_t>& head,
                const std::vector<PlannedEntry>& entries, std::vector<VersionRecordSource> records, bool recordsGiven,
                PendingFile& patch, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    if (!copyFile(stubPath, stubSize, patch, buffer.get(), nullptr, error)) return false;
    const std::vector<uint8_t> padding(payloadOffset - stubSize, 0);
    if (!patch.write(padding.data(), padding.size(), error) || !patch.write(head.data(), head.size(), error)) {
        return false;
    }
    const bool gatherRecords = !entries.empty() && entries.back().generatedList && !recordsGiven;
    ProgressLine progress(command);
    for (size_t i = 0; i < entries.size(); ++i) {
        const PlannedEntry& entry = entries[i];
        progress.show(i, entries.size(), entry.givenName);
        if (entry.generatedList) {
            const std::optional<std::vector<uint8_t>> list = makeVersionList(records);
            if (!list || list->size() != entry.size) {
                error = "the version list cannot be made from these names";
                return false;
            }
            if (!patch.write(list->data(), list->size(), error)) return false;
            continue;
        }
        CheckValue value;
        value.reset();
        if (!copyFile(entry.path, entry.size, patch, buffer.get(), gatherRecords ? &value : nullptr, error)) {
            return false;
        }
        if (gatherRecords) {
            VersionRecordSource record{entry.name, {}};
            std::copy(value.bytes(), value.bytes() + checkValueSize, record.checkValue.begin());
            records.push_back(record);
        }
    }
    return true;
}

struct EntrySource {
    std::string givenName;
    std::string path;
};

// ENTRY is PATH (installed under the path's file name) or NAME=PATH, split at the first "=".
EntrySource splitOperand(const std::string& operand) {
    const size_t equals = operand.find('=');
    if (equals == std::string::npos) return {std::filesystem::path(operand).filename().string(), operand};
    return {operand.substr(0, equals), operand.substr(equals + 1)};
}

// Every entry planned and checked, names compared as the updater compares them. `listRecords` is
// the number of records of a version list this build makes (appended as the last entry), or none.
bool planEntries(const std::vector<EntrySource>& sources, ArchiveLayout layout, std::optional<size_t> listRecords,
                 std::vector<PlannedEntry>& entries, std::string& error) {
    const size_t total = sources.size() + (listRecords ? 1 : 0);
    if (total > maxArchiveEntries) {
        error = std::to_string(total) + " entries" + (listRecords ? " with the version list" : "") +
                "; a patch holds at most " + std::to_string(maxArchiveEntries);
        return false;
    }
    for (const EntrySource& source : sources) {
        PlannedEntry entry;
        if (!planEntry(source.givenName, source.path, layout, entry, error)) return false;
        for (const PlannedEntry& earlier : entries) {
            if (foldedName(earlier.name) == foldedName(entry.name)) {
                error = "entry name '" + entry.givenName +
                        "' is given twice (names are compared without regard to case or to '/' against '\\', "
                        "as the updater finds them)";
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
    return true;
}

bool isVersionListName(const std::string& name) { return foldedName(name) == "tlx.hvl"; }

// Records for every file of `folder`, with their check values: the version list of a whole game
// when the patch carries only some of its files.
bool recordsOfFolder(const std::string& folder, std::vector<VersionRecordSource>& records, std::string& error) {
    std::vector<std::string> names;
    if (!listFolderFiles(folder, false, names, error)) return false;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    for (const std::string& name : names) {
        if (isVersionListName(name)) continue;
        const std::optional<std::string> encoded = commandLineNameToCodePage932(name);
        if (!encoded || encoded->size() > maxVersionRecordName(VersionListVersion::V2)) {
            error = folder + ": '" + name + "' cannot be a version list record name";
            return false;
        }
        CheckValue value;
        if (!checkValueOfFile(folder + "/" + name, value, buffer.get(), error)) return false;
        VersionRecordSource record{*encoded, {}};
        std::copy(value.bytes(), value.bytes() + checkValueSize, record.checkValue.begin());
        records.push_back(record);
    }
    return true;
}

// The entries of a --from build: the folder's files (in name order, in the order of --order, or
// as the operands name them) and its version list: the folder's own TLX.hvl, --hvl FILE, or one
// made by this build (from --hvl-from DIR, else from the packed files).
bool planFolder(const ParsedArguments& arguments, std::vector<EntrySource>& sources, std::optional<size_t>& listRecords,
                std::vector<VersionRecordSource>& records, std::string& error) {
    const std::string& folder = arguments.value("from");
    std::vector<std::string> names = arguments.operands;
    if (arguments.has("order") && !readNameList(arguments.value("order"), names, error)) return false;
    if (names.empty() && !listFolderFiles(folder, false, names, error)) return false;
    bool folderHasList = false;
    for (const std::string& name : names) {
        sources.push_back({name, folder + "/" + name});
        folderHasList = folderHasList || isVersionListName(name);
    }
    if (arguments.has("hvl")) {
        if (folderHasList) {
            error = folder + " holds a version list already; leave out --hvl or the folder's TLX.hvl";
            return false;
        }
        sources.push_back({versionListName, arguments.value("hvl")});
    } else if (!folderHasList) {
        if (arguments.has("hvl-from") && !recordsOfFolder(arguments.value("hvl-from"), records, error)) return false;
        listRecords = arguments.has("hvl-from") ? records.size() : sources.size();
    }
    return true;
}

bool checkStub(const std::string& path, uint64_t& size, std::string& error) {
    if (!openInputFile(path, size, error)) {
        error = "stub " + error;
        return false;
    }
    if (size <= payloadOffset) return true;
    error = "stub " + path + " is " + std::to_string(size) +
            " bytes; it must not be longer than 393216 (0x60000), where the payload begins";
    return false;
}

// Header and index of the archive, and the size of the whole patch. Every entry must start where
// the updater can seek, and the patch must stay below 4 GiB.
bool planArchive(const std::vector<PlannedEntry>& entries, ArchiveLayout layout, std::vector<uint8_t>& head,
                 uint64_t& patchSize, std::string& error) {
    std::vector<PayloadEntryShape> shapes;
    for (const PlannedEntry& entry : entries) shapes.push_back({entry.name, entry.size});
    std::optional<std::vector<uint8_t>> made = makePayloadArchiveHead(shapes, layout);
    patchSize = static_cast<uint64_t>(payloadOffset) + (made ? made->size() : 0);
    for (const PlannedEntry& entry : entries) {
        if (patchSize >= seekLimit) {
            error = "entry '" + entry.givenName + "' would start at byte " + std::to_string(patchSize) +
                    "; the updater reads entries that start below 2 GiB";
            return false;
        }
        patchSize += entry.size;
    }
    if (!made || patchSize > 0xFFFFFFFFull) {
        error = "the patch would be 4 GiB or larger; patches stay below that";
        return false;
    }
    head = std::move(*made);
    return true;
}

// Prints what a build from two releases chose and why. False, after listing on standard error what
// the patch cannot carry, when it cannot be built.
bool reportComparison(const ReleaseComparison& comparison) {
    for (const std::string& problem : comparison.problems) printError(command, "cannot carry " + problem);
    if (!comparison.problems.empty()) return false;
    size_t removed = 0;
    for (const ReleaseChange& change : comparison.changes) {
        static const char* const changeNames[] = {"changed", "new", "removed"};
        std::printf("%-9s  %s%s\n", changeNames[static_cast<int>(change.change)], change.path.c_str(),
                    change.change == FileChange::Removed ? "  (not in NEW; a patch cannot remove it)" : "");
        removed += change.change == FileChange::Removed ? 1 : 0;
    }
    std::printf("%-9s  %zu files\nversion list: %s\n", "unchanged", comparison.unchanged, comparison.listNote.c_str());
    if (removed > 0) {
        printError(command, "warning: the " + std::to_string(removed) +
                                " removed files stay in players' installs; a patch cannot remove files");
    }
    return true;
}

// The entries of a --base build: the new and changed files of NEW, and the version list.
bool planRelease(const ParsedArguments& arguments, std::vector<EntrySource>& sources,
                 std::optional<size_t>& listRecords, std::vector<VersionRecordSource>& records, std::string& error) {
    ReleaseComparison comparison;
    if (!compareReleases(arguments.value("base"), arguments.value("from"), comparison, error)) return false;
    if (!reportComparison(comparison)) return false;
    for (const ChosenFile& file : comparison.chosen) {
        sources.push_back({std::filesystem::path(file.shownName).filename().string(), file.path});
    }
    if (!comparison.listFile.empty()) {
        sources.push_back({versionListName, comparison.listFile});
    } else {
        records = std::move(comparison.records);
        listRecords = records.size();
    }
    return true;
}

int run(const ParsedArguments& arguments) {
    std::string stubPath;
    std::string stubError;
    if (arguments.has("stub")) {
        stubPath = arguments.value("stub");
    } else if (!findStub(stubPath, stubError)) {
        return usageError(command, stubError);
    }
    const bool dryRun = arguments.has("dry-run");
    if (!arguments.has("out") && !dryRun) return usageError(command, "--out PATCH is required");
    if (arguments.has("hvl") && arguments.has("hvl-from"))
        return usageError(command, "give --hvl or --hvl-from, not both");
    if (!arguments.has("from") && (arguments.has("hvl-from") || arguments.has("order") || arguments.has("base"))) {
        return usageError(command, "--base, --hvl-from and --order go with --from DIR");
    }
    if (arguments.has("base") &&
        (arguments.has("hvl") || arguments.has("hvl-from") || arguments.has("order") || !arguments.operands.empty())) {
        return usageError(command,
                          "--base chooses the files and the version list itself; leave out --hvl, "
                          "--hvl-from, --order and NAMEs");
    }
    const ArchiveLayout layout = arguments.has("legacy") ? ArchiveLayout::Legacy : ArchiveLayout::Current;
    const std::string patchPath = arguments.has("out") ? arguments.value("out") : "";

    std::string error;
    std::vector<EntrySource> sources;
    std::optional<size_t> listRecords;
    std::vector<VersionRecordSource> records;
    const bool recordsGiven = arguments.has("hvl-from") || arguments.has("base");
    if (arguments.has("base")) {
        if (!planRelease(arguments, sources, listRecords, records, error)) {
            if (!error.empty()) printError(command, error);
            return exitFailed;
        }
    } else if (arguments.has("from")) {
        if (!planFolder(arguments, sources, listRecords, records, error)) {
            printError(command, error);
            return exitFailed;
        }
    } else {
        for (const std::string& operand : arguments.operands) sources.push_back(splitOperand(operand));
        if (arguments.has("hvl")) sources.push_back({versionListName, arguments.value("hvl")});
    }

    std::vector<PlannedEntry> entries;
    uint64_t stubSize = 0;
    std::vector<uint8_t> head;
    uint64_t patchSize = 0;
    PendingFile patch;
    if (!planEntries(sources, layout, listRecords, entries, error) || !checkStub(stubPath, stubSize, error) ||
        !planArchive(entries, layout, head, patchSize, error) || (!dryRun && !patch.create(patchPath, error))) {
        printError(command, error);
        return exitFailed;
    }
    if (!dryRun &&
        (!writePatch(stubPath, stubSize, head, entries, records, recordsGiven, patch, error) || !patch.commit(error))) {
        printError(command, error);
        return exitFailed;
    }
    std::printf("%s%s: %zu entries, %s layout, %llu bytes%s\n", dryRun ? "would write " : "",
                patchPath.empty() ? "the patch" : patchPath.c_str(), entries.size(),
                layout == ArchiveLayout::Current ? "current" : "legacy", static_cast<unsigned long long>(patchSize),
                dryRun ? " (--dry-run: nothing written)" : "");
    return exitOk;
}

}  // namespace

const Command buildCommand = {
    "build",
    "build a patch of what changed between two releases, or of the files given",
    "Usage: patchtool build [--stub STUB] --out PATCH --base OLD --from NEW [--legacy] [--dry-run]\n"
    "       patchtool build [--stub STUB] --out PATCH [--legacy] [--hvl FILE] [ENTRY...]\n"
    "       patchtool build [--stub STUB] --out PATCH --from DIR [--order LIST] [--hvl FILE | --hvl-from DIR]\n"
    "                       [--legacy] [NAME...]\n"
    "\n"
    "Writes PATCH: the STUB executable padded with zero bytes to 0x60000 (393216), followed by a\n"
    "payload archive of the ENTRY files in the order given, their bytes back to back.\n"
    "\n"
    "With --base OLD --from NEW the patch carries what changed between two release folders: every\n"
    "file of NEW (subfolders included) that OLD lacks or holds with another check value, each under\n"
    "its last name, and a version list of the whole of NEW: NEW's own TLX.hvl when it describes\n"
    "NEW's files and lets each packed file find its own record, else one made in the same pass with\n"
    "each packed file's record before any other of the same last name. Names are compared as the\n"
    "updater compares them; TLX.hvl and uninst.lst take no part. It prints per file 'changed', 'new'\n"
    "or 'removed' (files of OLD that NEW lacks; a patch cannot remove them, so this also warns), the\n"
    "number unchanged and which version list it carries. What the formats cannot carry is listed,\n"
    "one line per file, and nothing is written: more than 31 files, two packed files of one last name,\n"
    "a folder OLD lacks (the updater creates none), a name the updater refuses.\n"
    "  --dry-run     print the choice and the patch's size, and write nothing (--out may be left out)\n"
    "\n"
    "  --stub STUB   the updater executable; at most 393216 bytes. Default: the first that exists\n"
    "                of the stub installed with patchtool (beside patchtool.exe on Windows) and\n"
    "                build/win32/setup.exe below the current folder\n"
    "  --out PATCH   the patch to write; written under a temporary name and moved into place only\n"
    "                when complete, so a failed build leaves an existing PATCH untouched. An\n"
    "                existing PATCH must be a regular file (not a folder, device or link)\n"
    "  --legacy      write the legacy layout (32-byte index entries, names of at most 15 bytes)\n"
    "                instead of the current one (128-byte index entries, names of at most 95 bytes)\n"
    "\n"
    "ENTRY is PATH, installed under the path's file name, or NAME=PATH (split at the first '=';\n"
    "a path that contains '=' needs the NAME=PATH form). Names are stored in code page 932 and may\n"
    "carry a folder part with '\\'. At most 32 entries; names that do not fit the layout, names\n"
    "that code page 932 cannot hold, names the updater would install outside the game folder\n"
    "(absolute, a drive, '.' or '..' parts) and names given twice (ignoring case) are refused,\n"
    "before anything is written.\n"
    "  --hvl FILE    add FILE as the version list entry TLX.hvl\n"
    "\n"
    "With --from DIR the entries are the files of DIR: all regular files directly in it, sorted by\n"
    "name, or the NAMEs given, or the names of the list file --order LIST (one per line), in that\n"
    "order. The version list is DIR's own TLX.hvl if it has one, else --hvl FILE, else one made by\n"
    "this build and packed as the last entry TLX.hvl: with a record for every file of --hvl-from\n"
    "DIR (the whole game, when the patch carries only some of its files), or by default with a\n"
    "record for every packed file, whose check values are taken while the files are copied.\n",
    {{"stub", true},
     {"out", true},
     {"base", true},
     {"dry-run", false},
     {"legacy", false},
     {"from", true},
     {"order", true},
     {"hvl", true},
     {"hvl-from", true}},
    run,
};
