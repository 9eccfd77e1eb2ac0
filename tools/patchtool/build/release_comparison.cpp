#include "tools/patchtool/build/release_comparison.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "engine/version_list.h"
#include "tools/patchtool/build/file_comparison.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/build/release_lists.h"
#include "tools/patchtool/build/run_names.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/report.h"

namespace {

// One file of a release: its path and, when it can be one, the record name the updater knows it by.
struct ReleaseFile {
    std::string path;        // relative, "/" between folders
    std::string recordName;  // code page 932, "\" between folders; empty when code page 932 cannot hold it
    std::string folded;      // the record name as Windows finds the file
    std::string entryName;   // the record name's last component
    std::string folder;      // the folded record name's folder part, "" at the top
    uint64_t size = 0;       // of a file of NEW, as compared
    CheckValue value;
    std::string from;  // where a link brought it in from outside the release; empty inside it
};

// The files of one release but its version list and uninstall list, which a patch never replaces
// (the updater prunes the one and merges its names into the other), and its folders as Windows
// finds them ("" for the release's own).
struct Release {
    std::string folder;
    std::vector<ReleaseFile> files;
    std::set<std::string> folders{""};
    std::map<std::string, const ReleaseFile*> byFolded;
    std::string ownList;  // the release's TLX.hvl, when it has one
    bool hasUninstallList = false;
};

// A relative path as the updater spells a record's name: code page 932, "\" between folders; empty
// when code page 932 cannot hold it.
std::string recordNameOf(const std::string& path) {
    std::string record = path;
    std::replace(record.begin(), record.end(), '/', '\\');
    return utf8ToCodePage932(record).value_or("");
}

ReleaseFile describe(const std::string& path) {
    ReleaseFile file{path, recordNameOf(path), {}, {}, {}, 0, {}, {}};
    file.folded = foldedName(file.recordName);
    file.entryName = lastNameComponent(file.recordName.c_str(), codePage932);
    const size_t slash = path.rfind('/');
    file.folder = slash != std::string::npos ? foldedName(recordNameOf(path.substr(0, slash))) : "";
    return file;
}

bool isFolded(const ReleaseFile& file, const char* name) {
    return file.path.find('/') == std::string::npos && file.folded == foldedName(name);
}

bool readRelease(const std::string& folder, bool followLinksOutside, Release& release, ReleaseComparison& comparison,
                 std::string& error) {
    FolderContents contents;
    if (!readReleaseFolder(folder, {true, followLinksOutside}, contents, error)) return false;
    release.folder = folder;
    comparison.problems.insert(comparison.problems.end(), contents.problems.begin(), contents.problems.end());
    comparison.outsideFiles += contents.outside.size();
    for (const std::string& path : contents.files) {
        ReleaseFile file = describe(path);
        const auto outside = contents.outside.find(path);
        if (outside != contents.outside.end()) file.from = outside->second;
        if (isFolded(file, versionListName)) release.ownList = folder + "/" + path;
        release.hasUninstallList = release.hasUninstallList || isReleaseUninstallList(path);
        if (!isReleaseList(path)) release.files.push_back(file);
    }
    for (const std::string& path : contents.folders) release.folders.insert(foldedName(recordNameOf(path)));
    for (const ReleaseFile& file : release.files) {
        if (!file.folded.empty()) release.byFolded.emplace(file.folded, &file);
    }
    return true;
}

void addProblem(ReleaseComparison& comparison, const std::string& subject, const char* reason,
                const std::string& detail = "") {
    comparison.problems.push_back(refused(subject, reason, detail));
}

// What the updater could not take from NEW's records: names code page 932 cannot hold, too long for
// a record, or two files it would take for one.
void findNameProblems(const Release& release, ReleaseComparison& comparison) {
    std::set<std::string> folded;
    for (const ReleaseFile& file : release.files) {
        if (file.recordName.empty()) {
            addProblem(comparison, file.path, refusal::notCodePage932);
        } else if (file.recordName.size() > maxVersionRecordName(VersionListVersion::V2)) {
            addProblem(comparison, file.path, refusal::tooLongForRecord);
        }
        if (!file.folded.empty() && !folded.insert(file.folded).second) {
            addProblem(comparison, file.path, refusal::oneFileTwice, "NEW holds another of this name, case aside");
        }
    }
}

// The bases that lack the folder of `file`, as typed; empty when every base holds it.
std::string basesWithoutFolder(const ReleaseFile& file, const std::vector<Release>& bases) {
    std::string lacking;
    for (const Release& base : bases) {
        if (base.folders.count(file.folder) == 0) lacking += (lacking.empty() ? "" : ", ") + base.folder;
    }
    return lacking;
}

// What the updater could not install as chosen: names it refuses, two files it would take for one,
// files in folders a base lacks (the updater creates none), and more entries than a patch has.
void findProblems(const std::vector<const ReleaseFile*>& chosen, const std::vector<Release>& bases,
                  ReleaseComparison& comparison) {
    const uint32_t longestEntry = layoutInfo(ArchiveLayout::Current).nameField - 1;
    std::map<std::string, const ReleaseFile*> byEntry;
    for (const ReleaseFile* file : chosen) {
        const std::string& name = file->path;
        if (file->recordName.empty()) continue;  // listed with the records
        if (!isSafeTargetName(file->recordName.c_str(), codePage932) || file->folded.empty()) {
            addProblem(comparison, name, refusal::refusedName,
                       "a reserved name, a part ending in '.' or a space, or one of <>\"|?*:");
            continue;
        }
        if (file->entryName.size() > longestEntry) {
            addProblem(comparison, name, refusal::tooLongForIndex, "its last name is carried");
        }
        if (foldedName(file->entryName) == foldedName(versionListName)) {
            addProblem(comparison, name, refusal::versionListEntry, "the updater would take it for the version list");
        }
        const std::string lacking = basesWithoutFolder(*file, bases);
        if (!lacking.empty()) {
            addProblem(comparison, name, refusal::folderMissing,
                       "its folder is not in " + (bases.size() == 1 ? "OLD" : lacking) +
                           ", and the updater creates no folders" +
                           (bases.size() == 1 ? "" : ": leave out those bases, or build them a patch"));
        }
        const auto [entry, newEntry] = byEntry.emplace(foldedName(file->entryName), file);
        if (!newEntry) {
            addProblem(comparison, entry->second->path + " and " + name, refusal::oneName,
                       name.substr(name.rfind('/') + 1) + ": the updater would install both in one place");
        }
    }
    if (chosen.size() + 1 > maxArchiveEntries) {
        addProblem(comparison, std::to_string(chosen.size()) + " changed and new files", refusal::tooManyEntries,
                   "with the version list they make " + std::to_string(chosen.size() + 1) + " entries");
    }
}

// Compares every file of NEW with its counterpart in each base, byte for byte, in one pass that also
// takes its check value, and sorts it into changed, new and unchanged.
bool compareFiles(Release& release, const std::vector<Release>& bases, ReleaseComparison& comparison,
                  std::vector<const ReleaseFile*>& chosen, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]), otherBuffer(new uint8_t[fileChunkSize]);
    ProgressLine progress("build");
    for (size_t i = 0; i < release.files.size(); ++i) {
        ReleaseFile& file = release.files[i];
        progress.show(i, release.files.size(), file.path);
        std::vector<std::string> others;
        size_t held = 0;
        for (const Release& base : bases) {
            const auto other = file.folded.empty() ? base.byFolded.end() : base.byFolded.find(file.folded);
            others.push_back(other != base.byFolded.end() ? base.folder + "/" + other->second->path : "");
            held += others.back().empty() ? 0 : 1;
        }
        ComparedFile compared;
        if (!compareFile(release.folder + "/" + file.path, others, compared, buffer.get(), otherBuffer.get(), error)) {
            return false;
        }
        file.size = compared.size;
        file.value = compared.value;
        std::vector<size_t> differing;
        for (size_t b = 0; b < bases.size(); ++b) {
            if (!compared.same[b]) differing.push_back(b);
        }
        if (differing.empty()) {
            ++comparison.unchanged;
            continue;
        }
        const bool isNew = held == 0;
        comparison.changes.push_back({isNew ? FileChange::New : FileChange::Changed, file.path,
                                      isNew ? std::vector<size_t>{} : differing, file.from});
        comparison.chosen.push_back({release.folder + "/" + file.path, file.path, file.size, file.value});
        chosen.push_back(&file);
    }
    return true;
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
        if (file == byFolded.end()) {
            return "it lists " + codePage932ToUtf8(record.name, std::strlen(record.name)) + ", which NEW does not hold";
        }
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

bool compareReleases(const std::vector<std::string>& baseFolders, const std::string& newFolder, bool followLinksOutside,
                     ReleaseComparison& comparison, std::string& error) {
    Release release;
    std::vector<Release> bases(baseFolders.size());
    if (!readRelease(newFolder, followLinksOutside, release, comparison, error)) return false;
    comparison.uninstallListLeftOut = release.hasUninstallList;
    for (size_t b = 0; b < bases.size(); ++b) {
        if (!readRelease(baseFolders[b], followLinksOutside, bases[b], comparison, error)) return false;
    }
    if (comparison.problems.empty() && release.files.empty()) comparison.problems.push_back(nothingToCarry(newFolder));
    findNameProblems(release, comparison);
    if (!comparison.problems.empty()) return true;  // nothing is read for a build that cannot be made

    std::vector<const ReleaseFile*> chosen;
    if (!compareFiles(release, bases, comparison, chosen, error)) return false;
    for (size_t b = 0; b < bases.size(); ++b) {
        for (const ReleaseFile& file : bases[b].files) {
            if (release.byFolded.count(file.folded) == 0)
                comparison.changes.push_back({FileChange::Removed, file.path, {b}, file.from});
        }
    }
    if (chosen.empty()) {
        comparison.problems.push_back(refused(newFolder, refusal::noPatchNeeded,
                                              "every file is the same in every base; TLX.hvl and uninst.lst take "
                                              "no part"));
        return true;
    }
    findProblems(chosen, bases, comparison);
    std::vector<NamedFile> files, installed;
    for (const ReleaseFile& file : release.files) files.push_back({file.path, file.folded});
    for (const ReleaseFile* file : chosen) installed.push_back({file->path, file->folded});
    installed.push_back({versionListName, foldedName(versionListName)});
    const std::vector<std::string> clashes = filesAtRunNames(files, installed);
    comparison.problems.insert(comparison.problems.end(), clashes.begin(), clashes.end());

    const std::string mismatch = release.ownList.empty() ? "" : ownListMismatch(release.ownList, release.files, chosen);
    if (!release.ownList.empty() && mismatch.empty()) {
        comparison.listFile = release.ownList;
        comparison.listNote = "NEW's own TLX.hvl, which describes its files";
        return true;
    }
    comparison.records = orderedRecords(release.files, chosen);
    comparison.listNote = "made for NEW's " + countOf(release.files.size(), "file", "files") + " (" +
                          (release.ownList.empty() ? "NEW has no TLX.hvl" : "NEW's TLX.hvl is not used: " + mismatch) +
                          ")";
    return true;
}
