#include "tools/patchtool/release_comparison.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "engine/uninstall_list.h"
#include "engine/version_list.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/game_folder.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/progress_line.h"

namespace {

// One file of a release: its path and, when it can be one, the record name the updater knows it by.
struct ReleaseFile {
    std::string path;        // relative, "/" between folders
    std::string recordName;  // code page 932, "\" between folders; empty when code page 932 cannot hold it
    std::string folded;      // the record name as Windows finds the file
    std::string entryName;   // the record name's last component
    std::string folder;      // the folded record name's folder part, "" at the top
    CheckValue value;
};

// A relative path as the updater spells a record's name: code page 932, "\" between folders; empty
// when code page 932 cannot hold it.
std::string recordNameOf(const std::string& path) {
    std::string record = path;
    std::replace(record.begin(), record.end(), '/', '\\');
    return utf8ToCodePage932(record).value_or("");
}

ReleaseFile describe(const std::string& path) {
    ReleaseFile file{path, recordNameOf(path), {}, {}, {}, {}};
    file.folded = foldedName(file.recordName);
    file.entryName = lastNameComponent(file.recordName.c_str(), codePage932);
    const size_t slash = path.rfind('/');
    file.folder = slash != std::string::npos ? foldedName(recordNameOf(path.substr(0, slash))) : "";
    return file;
}

bool isFolded(const ReleaseFile& file, const char* name) {
    return file.path.find('/') == std::string::npos && file.folded == name;
}

// Every file of `folder` but the version list and the player's uninstall list, which a patch
// never replaces (the updater merges its names into it).
bool readRelease(const std::string& folder, std::vector<ReleaseFile>& files, std::string& error) {
    std::vector<std::string> paths;
    if (!listFolderFiles(folder, true, paths, error)) return false;
    for (const std::string& path : paths) files.push_back(describe(path));
    return true;
}

bool foldValues(const std::string& folder, std::vector<ReleaseFile*>& files, ProgressLine& progress, size_t& done,
                size_t total, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    for (ReleaseFile* file : files) {
        progress.show(done++, total, file->path);
        if (!checkValueOfFile(folder + "/" + file->path, file->value, buffer.get(), error)) return false;
    }
    return true;
}

void addProblem(ReleaseComparison& comparison, const std::string& problem) { comparison.problems.push_back(problem); }

// What the updater could not install as chosen: names it refuses or cannot hold, two files it
// would take for one, files in folders it would have to create, and more entries than a patch has.
void findProblems(const std::vector<const ReleaseFile*>& chosen, const std::set<std::string>& oldFolders,
                  ReleaseComparison& comparison) {
    const uint32_t longestEntry = layoutInfo(ArchiveLayout::Current).nameField - 1;
    std::map<std::string, const ReleaseFile*> byEntry, byTarget;
    for (const ReleaseFile* file : chosen) {
        const std::string& name = file->path;
        if (file->recordName.empty()) continue;  // listed with the records
        if (!isSafeTargetName(file->recordName.c_str(), codePage932) || file->folded.empty()) {
            addProblem(comparison, name +
                                       ": a name the updater refuses (a reserved name, a part ending in '.' or a "
                                       "space, or one of <>\"|?*:)");
            continue;
        }
        if (file->entryName.size() > longestEntry) {
            addProblem(comparison, name + ": its name is longer than the patch's index holds");
        }
        if (foldedName(file->entryName) == "tlx.hvl" || file->folded == foldedName(versionListPruneName) ||
            file->folded == foldedName(uninstallListTemporaryName)) {
            addProblem(comparison, name + ": named like a file the updater writes itself");
        }
        if (!file->folder.empty() && oldFolders.count(file->folder) == 0) {
            addProblem(comparison, name + ": its folder is not in OLD, and the updater creates no folders");
        }
        const auto [entry, newEntry] = byEntry.emplace(foldedName(file->entryName), file);
        if (!newEntry) {
            addProblem(comparison, entry->second->path + " and " + name + ": both would be carried under the name " +
                                       std::filesystem::path(name).filename().string() +
                                       ", and the updater would install both in one place");
        }
        byTarget.emplace(file->folded, file);
    }
    for (const auto& [folded, file] : byTarget) {
        if (byTarget.count(folded + ".tmp") != 0) {
            addProblem(comparison,
                       file->path + ": another chosen file is named like its staging file " + file->path + ".tmp");
        }
    }
    if (chosen.size() + 1 > maxArchiveEntries) {
        addProblem(comparison, std::to_string(chosen.size()) +
                                   " changed and new files: with the version list they make " +
                                   std::to_string(chosen.size() + 1) + " entries; a patch holds at most " +
                                   std::to_string(maxArchiveEntries));
    }
}

// NEW's records in name order, each chosen file's record moved before the first other record of
// the same last component, so that the updater finds it first.
std::vector<VersionRecordSource> orderedRecords(const std::vector<ReleaseFile>& files,
                                                const std::vector<const ReleaseFile*>& chosen) {
    std::map<std::string, const ReleaseFile*> chosenByEntry;
    for (const ReleaseFile* file : chosen) chosenByEntry.emplace(foldedName(file->entryName), file);
    std::vector<VersionRecordSource> records;
    std::set<const ReleaseFile*> written;
    const auto add = [&](const ReleaseFile* file) {
        if (!written.insert(file).second) return;
        VersionRecordSource record{file->recordName, {}};
        std::copy(file->value.bytes(), file->value.bytes() + checkValueSize, record.checkValue.begin());
        records.push_back(record);
    };
    for (const ReleaseFile& file : files) {
        const auto first = chosenByEntry.find(foldedName(file.entryName));
        if (first != chosenByEntry.end()) add(first->second);
        add(&file);
    }
    return records;
}

// Why NEW's own version list cannot be carried as it is; empty when it can: it holds exactly a
// record of every file with its check value, and each chosen file is the first of its last name.
std::string ownListMismatch(const std::string& path, const std::vector<ReleaseFile>& files,
                            const std::vector<const ReleaseFile*>& chosen) {
    FileHandle handle;
    VersionList list;
    std::string error;
    if (openWithEngine(handle, path, error)) list.loadAt(handle, 0);
    if (list.version == VersionListVersion::None) return "it is no version list the updater reads";
    std::map<std::string, const ReleaseFile*> byFolded;
    for (const ReleaseFile& file : files) byFolded.emplace(file.folded, &file);
    std::set<std::string> listed;
    for (uint32_t i = 0; i < list.count; ++i) {
        const VersionRecord& record = list.records[i];
        const auto file = byFolded.find(foldedName(record.name));
        if (file == byFolded.end()) return std::string("it lists ") + record.name + ", which NEW does not hold";
        if (std::memcmp(record.checkValue, file->second->value.bytes(), checkValueSize) != 0) {
            return "its record of " + file->second->path + " differs from the file";
        }
        listed.insert(file->first);
    }
    for (const ReleaseFile& file : files) {
        if (listed.count(file.folded) == 0) return "it has no record of " + file.path;
    }
    for (const ReleaseFile* file : chosen) {
        std::string lowered = foldedName(file->entryName);
        const VersionRecord* record = list.findRecord(lowered.c_str(), codePage932);
        if (record == nullptr || foldedName(record->name) != file->folded) {
            return "the updater would install " + file->path + " under another of its records";
        }
    }
    return "";
}

}  // namespace

bool compareReleases(const std::string& oldFolder, const std::string& newFolder, ReleaseComparison& comparison,
                     std::string& error) {
    std::vector<ReleaseFile> oldFiles, newFiles;
    if (!readRelease(oldFolder, oldFiles, error) || !readRelease(newFolder, newFiles, error)) return false;
    const auto isListOrUninstall = [](const ReleaseFile& file) {
        return isFolded(file, "tlx.hvl") || isFolded(file, uninstallListName);
    };
    const auto ownList = std::find_if(newFiles.begin(), newFiles.end(),
                                      [](const ReleaseFile& file) { return isFolded(file, "tlx.hvl"); });
    const std::string ownListPath = ownList != newFiles.end() ? newFolder + "/" + ownList->path : "";
    newFiles.erase(std::remove_if(newFiles.begin(), newFiles.end(), isListOrUninstall), newFiles.end());
    oldFiles.erase(std::remove_if(oldFiles.begin(), oldFiles.end(), isListOrUninstall), oldFiles.end());

    // Each file of NEW meets the file of OLD that the updater would replace with it.
    std::map<std::string, ReleaseFile*> oldByFolded;
    std::set<std::string> oldFolders{""}, newFolded;
    for (ReleaseFile& file : oldFiles) {
        if (!file.folded.empty()) oldByFolded.emplace(file.folded, &file);
        for (size_t slash = file.path.find('/'); slash != std::string::npos; slash = file.path.find('/', slash + 1)) {
            oldFolders.insert(foldedName(recordNameOf(file.path.substr(0, slash))));
        }
    }
    std::vector<ReleaseFile*> newToFold, oldToFold;
    std::vector<std::pair<ReleaseFile*, ReleaseFile*>> pairs;
    for (ReleaseFile& file : newFiles) {
        newToFold.push_back(&file);
        const auto old = oldByFolded.find(file.folded);
        pairs.emplace_back(&file, old != oldByFolded.end() && !file.folded.empty() ? old->second : nullptr);
        if (pairs.back().second != nullptr) oldToFold.push_back(pairs.back().second);
        // Every file of NEW gets a record, changed or not.
        if (file.recordName.empty()) {
            addProblem(comparison, file.path + ": has characters that code page 932 cannot hold");
        } else if (file.recordName.size() > maxVersionRecordName(VersionListVersion::V2)) {
            addProblem(comparison, file.path + ": longer than a version list record holds");
        }
        if (!file.folded.empty() && !newFolded.insert(file.folded).second) {
            addProblem(comparison, file.path + ": NEW holds another file that Windows takes for the same one");
        }
    }
    {
        ProgressLine progress("build");
        size_t done = 0;
        const size_t total = newToFold.size() + oldToFold.size();
        if (!foldValues(newFolder, newToFold, progress, done, total, error) ||
            !foldValues(oldFolder, oldToFold, progress, done, total, error)) {
            return false;
        }
    }

    std::vector<const ReleaseFile*> chosen;
    for (const auto& [file, old] : pairs) {
        if (old != nullptr && std::memcmp(old->value.bytes(), file->value.bytes(), checkValueSize) == 0) {
            ++comparison.unchanged;
            continue;
        }
        comparison.changes.push_back({old != nullptr ? FileChange::Changed : FileChange::New, file->path});
        comparison.chosen.push_back({newFolder + "/" + file->path, file->path});
        chosen.push_back(file);
    }
    for (const ReleaseFile& file : oldFiles) {
        if (newFolded.count(file.folded) == 0) comparison.changes.push_back({FileChange::Removed, file.path});
    }
    findProblems(chosen, oldFolders, comparison);

    const std::string mismatch = ownListPath.empty() ? "" : ownListMismatch(ownListPath, newFiles, chosen);
    if (!ownListPath.empty() && mismatch.empty()) {
        comparison.listFile = ownListPath;
        comparison.listNote = "NEW's own TLX.hvl, which describes its files";
        return true;
    }
    comparison.records = orderedRecords(newFiles, chosen);
    comparison.listNote = "made for NEW's " + std::to_string(newFiles.size()) + " files (" +
                          (ownListPath.empty() ? "NEW has no TLX.hvl" : "NEW's TLX.hvl is not used: " + mismatch) + ")";
    return true;
}
