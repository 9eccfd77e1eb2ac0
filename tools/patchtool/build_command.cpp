// patchtool build: a patch from a setup.exe stub and the files it is to install.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/check_value.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "engine/version_list.h"
#include "formats/payload_archive_writer.h"
#include "formats/version_list_writer.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/game_folder.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/release_comparison.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/stub_location.h"

namespace {

constexpr const char* command = "build";
// The updater seeks with a signed 32-bit distance: every entry must start below 2 GiB.
constexpr uint64_t seekLimit = 0x80000000ull;

// A file's size and check value when a build from releases compared it; its record holds them, so
// the bytes packed must give them again.
struct RecordedBytes {
    uint64_t size;
    CheckValue value;
};

struct EntrySource {
    std::string givenName;
    std::string path;
    std::optional<RecordedBytes> recorded;
};

struct PlannedEntry {
    std::string path;
    std::string givenName;  // as typed, for messages
    std::string name;       // code page 932 bytes, as stored
    uint32_t size = 0;
    bool generatedList = false;  // the version list made by this build from the packed files
    std::optional<RecordedBytes> recorded;
};

// The message of a file that changed between the pass that compared it and the copy.
std::string changedWhileBuilding(const std::string& path, const char* what) {
    return path + ": changed while the patch was being built (its " + what +
           " is no longer the one compared and recorded); no patch was written";
}

// One entry: installed under `givenName` (as typed), read from `path`.
bool planEntry(const EntrySource& source, ArchiveLayout layout, PlannedEntry& entry, std::string& error) {
    const std::string& givenName = source.givenName;
    const std::string& path = source.path;
    entry.path = path;
    entry.givenName = givenName;
    entry.recorded = source.recorded;
    const std::string operand = givenName + "=" + path;
    if (entry.path.empty()) {
        error = "entry '" + operand + "' names no file";
        return false;
    }
    if (entry.givenName.empty()) {
        error = "entry '" + operand + "' has an empty name";
        return false;
    }
    const std::optional<std::string> encoded = utf8ToCodePage932(entry.givenName);
    if (!encoded) {
        error = "entry name '" + entry.givenName + "' has characters that code page 932 cannot hold";
        return false;
    }
    entry.name = *encoded;
    if (!isSafeTargetName(entry.name.c_str(), codePage932)) {
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
    if (entry.recorded && entry.recorded->size != size) {
        error = changedWhileBuilding(entry.path, "size");
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
        if (!copyFile(entry.path, entry.size, patch, buffer.get(), &value, error)) return false;
        if (entry.recorded && std::memcmp(value.bytes(), entry.recorded->value.bytes(), checkValueSize) != 0) {
            error = changedWhileBuilding(entry.path, "check value");
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

// The last component of a UTF-8 path.
std::string fileName(const std::string& path) {
    std::string name;
    utf8Path(fileSystemPath(path).filename(), name);
    return name;
}

// ENTRY is PATH (installed under the path's file name) or NAME=PATH, split at the first "=".
EntrySource splitOperand(const std::string& operand) {
    const size_t equals = operand.find('=');
    if (equals == std::string::npos) return {fileName(operand), operand, {}};
    return {operand.substr(0, equals), operand.substr(equals + 1), {}};
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
        if (!planEntry(source, layout, entry, error)) return false;
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

bool isVersionListName(const std::string& name) { return foldedName(name) == foldedName(versionListName); }

// The files directly in `folder`. False, after listing on standard error what the folder holds that
// is no file or folder, or with a reason in `error`, when they cannot be read.
bool filesOfFolder(const std::string& folder, std::vector<std::string>& names, std::string& error) {
    FolderContents contents;
    if (!readFolder(folder, false, contents, error)) return false;
    for (const std::string& problem : contents.problems) printError(command, problem);
    names = contents.files;
    return contents.problems.empty();
}

// Records for every file of `folder`, with their check values: the version list of a whole game
// when the patch carries only some of its files.
bool recordsOfFolder(const std::string& folder, std::vector<VersionRecordSource>& records, std::string& error) {
    std::vector<std::string> names;
    if (!filesOfFolder(folder, names, error)) return false;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    for (const std::string& name : names) {
        if (isVersionListName(name)) continue;
        const std::optional<std::string> encoded = utf8ToCodePage932(name);
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
    std::vector<std::string> names = arguments.operands, files;
    if (!filesOfFolder(folder, files, error)) return false;
    if (std::all_of(files.begin(), files.end(), isReleaseList)) {
        error = nothingToCarry(folder);
        return false;
    }
    if (arguments.has("order") && !readNameList(arguments.value("order"), names, error)) return false;
    if (names.empty()) names = files;
    bool folderHasList = false;
    for (const std::string& name : names) {
        sources.push_back({name, folder + "/" + name, {}});
        folderHasList = folderHasList || isVersionListName(name);
    }
    if (arguments.has("hvl")) {
        if (folderHasList) {
            error = folder + " holds a version list already; leave out --hvl or the folder's TLX.hvl";
            return false;
        }
        sources.push_back({versionListName, arguments.value("hvl"), {}});
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

// The bases of `change`, as typed, for its listing line.
std::string basesOf(const ReleaseChange& change, const std::vector<std::string>& bases) {
    std::string shown;
    for (const size_t base : change.bases) shown += (shown.empty() ? "" : ", ") + bases[base];
    return shown;
}

// Prints what a build from releases chose and why: with one base a line per changed, new and
// removed file; with several, each changed file's line ends with the bases against which it is new
// or changed, and each removed file's with the base that holds it. False, after listing on
// standard error why no patch can be built, when none can.
bool reportComparison(const ReleaseComparison& comparison, const std::vector<std::string>& bases) {
    for (const std::string& problem : comparison.problems) printError(command, problem);
    if (!comparison.problems.empty()) return false;
    std::set<std::string> removed;  // a file several bases hold counts once
    const bool several = bases.size() > 1;
    for (const ReleaseChange& change : comparison.changes) {
        static const char* const changeNames[] = {"changed", "new", "removed"};
        std::string note;
        if (change.change == FileChange::Removed) {
            note = "  (" + (several ? "in " + basesOf(change, bases) + ", " : "") +
                   "not in NEW; a patch cannot remove it)";
            removed.insert(change.path);
        } else if (change.change == FileChange::Changed && several) {
            note = "  (" + basesOf(change, bases) + ")";
        }
        std::printf("%-9s  %s%s\n", changeNames[static_cast<int>(change.change)], change.path.c_str(), note.c_str());
    }
    std::printf("%-9s  %zu files\nversion list: %s\n", "unchanged", comparison.unchanged, comparison.listNote.c_str());
    if (!removed.empty()) {
        printError(command, "warning: the " + std::to_string(removed.size()) +
                                " removed files stay in players' installs; a patch cannot remove files");
    }
    return true;
}

// The entries of a --base build: the new and changed files of NEW, and the version list.
bool planRelease(const ParsedArguments& arguments, std::vector<EntrySource>& sources,
                 std::optional<size_t>& listRecords, std::vector<VersionRecordSource>& records, std::string& error) {
    ReleaseComparison comparison;
    if (!compareReleases(arguments.values("base"), arguments.value("from"), comparison, error)) return false;
    if (!reportComparison(comparison, arguments.values("base"))) return false;
    for (const ChosenFile& file : comparison.chosen) {
        sources.push_back({fileName(file.shownName), file.path, RecordedBytes{file.size, file.value}});
    }
    if (!comparison.listFile.empty()) {
        sources.push_back({versionListName, comparison.listFile, {}});
    } else {
        records = std::move(comparison.records);
        listRecords = records.size();
    }
    return true;
}

bool isFolder(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(fileSystemPath(path), ignored);
}

bool isSameFolder(const std::string& one, const std::string& other) {
    std::error_code ignored;
    return std::filesystem::equivalent(fileSystemPath(one), fileSystemPath(other), ignored);
}

// The release folders are folders, and each is given once: a base that is NEW itself, or another
// base again under another spelling, is refused, whatever the paths' spelling.
bool checkReleaseFolders(const ParsedArguments& arguments, std::string& error) {
    const std::string& newFolder = arguments.value("from");
    if (!isFolder(newFolder)) {
        error = "--from " + newFolder + " is not a folder";
        return false;
    }
    if (!arguments.has("base")) return true;
    const std::vector<std::string>& bases = arguments.values("base");
    for (size_t i = 0; i < bases.size(); ++i) {
        if (!isFolder(bases[i])) {
            error = "--base " + bases[i] + " is not a folder";
            return false;
        }
        if (isSameFolder(bases[i], newFolder)) {
            error = "--base " + bases[i] + " is the folder of --from " + newFolder + ", the new release itself";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (isSameFolder(bases[j], bases[i])) {
                error = "--base " + bases[i] + " is the folder of --base " + bases[j] + " again";
                return false;
            }
        }
    }
    return true;
}

// What the build needs that takes no reading of the releases: the stub, the release folders and a
// place for the patch, which is created here (under a temporary name) so that a folder that is
// missing or cannot be written stops the build before the long work begins.
bool checkArguments(const ParsedArguments& arguments, const std::string& stubPath, uint64_t& stubSize,
                    const std::string& patchPath, bool dryRun, PendingFile& patch, std::string& error) {
    if (!checkStub(stubPath, stubSize, error)) return false;
    if (arguments.has("from") && !checkReleaseFolders(arguments, error)) return false;
    if (!dryRun) return patch.create(patchPath, error);
    const std::filesystem::path folder = fileSystemPath(patchPath).parent_path();
    std::error_code ignored;
    if (patchPath.empty() || folder.empty() || std::filesystem::is_directory(folder, ignored)) return true;
    error = patchPath + ": the folder it goes into does not exist";
    return false;
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
    uint64_t stubSize = 0;
    PendingFile patch;
    if (!checkArguments(arguments, stubPath, stubSize, patchPath, dryRun, patch, error)) {
        printError(command, error);
        return exitFailed;
    }
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
            if (!error.empty()) printError(command, error);
            return exitFailed;
        }
    } else {
        for (const std::string& operand : arguments.operands) sources.push_back(splitOperand(operand));
        if (arguments.has("hvl")) sources.push_back({versionListName, arguments.value("hvl"), {}});
    }

    std::vector<PlannedEntry> entries;
    std::vector<uint8_t> head;
    uint64_t patchSize = 0;
    if (!planEntries(sources, layout, listRecords, entries, error) ||
        !planArchive(entries, layout, head, patchSize, error)) {
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
    "build a patch of what changed since earlier releases, or of the files given",
    "Usage: patchtool build [--stub STUB] --out PATCH --base OLD [--base OLD...] --from NEW [--legacy] [--dry-run]\n"
    "       patchtool build [--stub STUB] --out PATCH [--legacy] [--hvl FILE] [ENTRY...]\n"
    "       patchtool build [--stub STUB] --out PATCH --from DIR [--order LIST] [--hvl FILE | --hvl-from DIR]\n"
    "                       [--legacy] [NAME...]\n"
    "\n"
    "Writes PATCH: the STUB executable padded with zero bytes to 0x60000 (393216), followed by a\n"
    "payload archive of the ENTRY files in the order given, their bytes back to back.\n"
    "\n"
    "With --base OLD --from NEW the patch carries what changed between release folders: every file\n"
    "of NEW (subfolders included, links to files and folders followed) that OLD lacks or holds with\n"
    "other bytes, each under its last name, and a version list of the whole of NEW: NEW's own TLX.hvl\n"
    "when it describes NEW's files and lets each packed file find its own record, else one made in\n"
    "the same pass with each packed file's record before any other of the same last name. Files are\n"
    "compared byte for byte (two different files with one check value are two files), and every\n"
    "packed file is folded again while it is copied and must give the check value its record holds:\n"
    "a file that changes meanwhile fails the build and no patch is written. Names are compared as\n"
    "the updater compares them; TLX.hvl and uninst.lst take no part. --base may be given several\n"
    "times, once per release players may have: the patch then carries every file that any of them\n"
    "lacks or holds with other bytes, and brings an install of each of them to NEW. It prints per\n"
    "file 'changed', 'new' or 'removed' (files of a base that NEW lacks; a patch cannot remove them,\n"
    "so this also warns), with several bases the bases each line concerns, the number unchanged and\n"
    "which version list it carries.\n"
    "  --dry-run     print the choice and the patch's size, and write nothing (--out may be left out)\n"
    "\n"
    "What would harm an install or cannot be carried is refused before anything is written, with a\n"
    "line each and exit status 1 (with --dry-run too): a NEW that holds no file but TLX.hvl and\n"
    "uninst.lst; nothing changed against any base ('no patch is needed'); a base given twice or NEW\n"
    "given as a base (the same folder under any spelling); anything in a release that is neither a\n"
    "file nor a folder nor a link to one (a link that leads nowhere or into a loop, a socket), or\n"
    "whose name is not UTF-8; more than 31 files; two packed files of one last name; a packed file\n"
    "whose folder a base lacks (the updater creates none: leave out that base or build it a patch of\n"
    "its own); a name the updater refuses. The stub, the release folders and the folder of PATCH are\n"
    "checked before any file is read.\n"
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
    "carry a folder part with '\\'; they are judged by code page 932's rules on every system. At\n"
    "most 32 entries; names that do not fit the layout, names that code page 932 cannot hold, names\n"
    "the updater would install outside the game folder (absolute, a drive, '.' or '..' parts) and\n"
    "names given twice (ignoring case) are refused, before anything is written.\n"
    "  --hvl FILE    add FILE as the version list entry TLX.hvl\n"
    "\n"
    "With --from DIR the entries are the files of DIR: all regular files directly in it (or behind\n"
    "links in it), sorted by name, or the NAMEs given, or the names of the list file --order LIST\n"
    "(one per line), in that order. The version list is DIR's own TLX.hvl if it has one, else --hvl\n"
    "FILE, else one made by this build and packed as the last entry TLX.hvl: with a record for every\n"
    "file of --hvl-from DIR (the whole game, when the patch carries only some of its files), or by\n"
    "default with a record for every packed file, whose check values are taken while the files are\n"
    "copied. A DIR that holds no file but TLX.hvl and uninst.lst is refused.\n"
    "\n"
    "Paths and names are UTF-8 (on Windows, the command line is read as the system gives it in\n"
    "UTF-16, so names mean the same whatever the system's code page).\n",
    {{"stub", true},
     {"out", true},
     {"base", true, true},
     {"dry-run", false},
     {"legacy", false},
     {"from", true},
     {"order", true},
     {"hvl", true},
     {"hvl-from", true}},
    run,
};
