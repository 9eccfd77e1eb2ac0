// The entries of a --from build: the files directly in a folder, and its version list.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>

#include "engine/version_list.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/build/file_comparison.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/build/release_lists.h"
#include "tools/patchtool/build/run_names.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/report.h"

namespace {

bool isVersionListName(const std::string& name) { return foldedName(name) == foldedName(versionListName); }

// The files directly in `folder`; a line for each that a link brought in from outside it, and their
// count added to `outside`. False, after listing on standard error what the folder holds that is no
// file or folder or leads outside, or with a reason in `error`, when they cannot be read.
bool filesOfFolder(const std::string& folder, const ParsedArguments& arguments, std::vector<std::string>& names,
                   size_t& outside, std::string& error) {
    FolderContents contents;
    if (!readReleaseFolder(folder, {false, arguments.has(followLinksOutsideOption)}, contents, error)) return false;
    for (const std::string& problem : contents.problems) printError(buildCommandName, problem);
    for (const auto& [name, where] : contents.outside) {
        std::printf("%-9s  %s%s\n", "outside", (folder + "/" + name).c_str(), outsideNote(where).c_str());
    }
    outside += contents.outside.size();
    names = contents.files;
    return contents.problems.empty();
}

// The files `names` of `folder` as the updater finds them in a game folder.
void addNamedFiles(const std::string& folder, const std::vector<std::string>& names, std::vector<NamedFile>& files) {
    for (const std::string& name : names)
        files.push_back({folder + "/" + name, foldedName(utf8ToCodePage932(name).value_or(""))});
}

// Records for the files `names` of `folder`, with their check values: the version list of a whole
// game when the patch carries only some of its files.
bool recordsOfFolder(const std::string& folder, const std::vector<std::string>& names,
                     std::vector<VersionRecordSource>& records, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    for (const std::string& name : names) {
        if (isReleaseList(name)) continue;
        const std::optional<std::string> encoded = utf8ToCodePage932(name);
        if (!encoded || encoded->size() > maxVersionRecordName(VersionListVersion::V2)) {
            error = refused(folder + "/" + name, encoded ? refusal::tooLongForRecord : refusal::notCodePage932);
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

// Holds every packed file to its record among `records`, the whole game's, which the patch carries:
// a file of other bytes would fail the updater's check of it, and one without a record would go
// unchecked and be missing from the installed list. The file's size and check value are recorded,
// so that the copy into the patch must give them again.
bool checkAgainstRecords(const std::string& whole, const std::vector<VersionRecordSource>& records,
                         std::vector<EntrySource>& sources, std::string& error) {
    std::map<std::string, const VersionRecordSource*> byName;
    for (const VersionRecordSource& record : records) byName.emplace(foldedName(record.name), &record);
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    for (EntrySource& source : sources) {
        const std::string name = utf8ToCodePage932(source.givenName).value_or("");
        if (isUninstallListEntry(name)) continue;  // it has no record: the merge changes it
        const auto record = byName.find(foldedName(name));
        if (record == byName.end()) {
            error = refused(source.path, refusal::noRecord, "the patch carries the version list of " + whole);
            return false;
        }
        ComparedFile compared;  // with no other file to compare, only its size and check value
        if (!compareFile(source.path, {}, compared, buffer.get(), nullptr, error)) return false;
        const uint8_t* expected = record->second->checkValue.data();
        if (std::memcmp(compared.value.bytes(), expected, checkValueSize) != 0) {
            error = refused(source.path, refusal::recordDiffers,
                            whole + "'s record holds " + lowerHex(expected, checkValueSize) + ", the file gives " +
                                lowerHex(compared.value.bytes(), checkValueSize));
            return false;
        }
        source.recorded = RecordedBytes{compared.size, compared.value};
    }
    return true;
}

// Names from a list file, one per line (LF or CR LF), blank lines skipped.
bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& error) {
    uint64_t size = 0;
    const OwnedFile file = openInputFile(path, size, error);
    if (!file) return false;
    std::string line;
    for (int c = std::fgetc(file.get());; c = std::fgetc(file.get())) {
        if (c == EOF || c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) names.push_back(line);
            line.clear();
            if (c == EOF) break;
        } else {
            line += static_cast<char>(c);
        }
    }
    if (std::ferror(file.get()) == 0) return true;
    error = path + ": " + lastSystemError();
    return false;
}

}  // namespace

bool folderEntries(const ParsedArguments& arguments, ChosenEntries& chosen, std::string& error) {
    const std::string& folder = arguments.value("from");
    std::vector<std::string> names = arguments.operands, files;
    size_t outside = 0;
    if (!filesOfFolder(folder, arguments, files, outside, error)) return false;
    if (std::all_of(files.begin(), files.end(), isReleaseList)) {
        error = nothingToCarry(folder);
        return false;
    }
    if (arguments.has("order") && !readNameList(arguments.value("order"), names, error)) return false;
    if (names.empty()) {
        // Every file but the uninstall list: a publisher who means to replace players' lists names it.
        std::copy_if(files.begin(), files.end(), std::back_inserter(names),
                     [](const std::string& name) { return !isReleaseUninstallList(name); });
        if (names.size() < files.size()) printUninstallListLeftOut();
    }
    bool folderHasList = false;
    const std::string within = arguments.has(followLinksOutsideOption) ? "" : folder;
    for (const std::string& name : names) {
        chosen.sources.push_back({name, folder + "/" + name, {}, within});
        folderHasList = folderHasList || isVersionListName(name);
    }
    if (arguments.has("hvl")) {
        if (folderHasList) {
            error = refused(folder, refusal::listTwice, "it holds a TLX.hvl, and --hvl gives another: leave out one");
            return false;
        }
        chosen.sources.push_back({versionListName, arguments.value("hvl"), {}, {}});
    } else if (!folderHasList) {
        chosen.listRecords = chosen.sources.size();
        chosen.gatherRecords = !arguments.has("hvl-from");
    }
    // The release is the folder, and with --hvl-from the whole game its version list describes.
    std::vector<NamedFile> releaseFiles, installed;
    addNamedFiles(folder, files, releaseFiles);
    if (arguments.has("hvl-from") && !arguments.has("hvl") && !folderHasList) {
        const std::string& whole = arguments.value("hvl-from");
        std::vector<std::string> wholeFiles;
        if (!filesOfFolder(whole, arguments, wholeFiles, outside, error) ||
            !recordsOfFolder(whole, wholeFiles, chosen.records, error)) {
            return false;
        }
        if (!checkAgainstRecords(whole, chosen.records, chosen.sources, error)) return false;
        chosen.listRecords = chosen.records.size();
        addNamedFiles(whole, wholeFiles, releaseFiles);
    }
    for (const EntrySource& source : chosen.sources) {
        installed.push_back({source.givenName, foldedName(utf8ToCodePage932(source.givenName).value_or(""))});
    }
    if (chosen.listRecords) installed.push_back({versionListName, foldedName(versionListName)});
    const std::vector<std::string> clashes = filesAtRunNames(releaseFiles, installed);
    for (const std::string& clash : clashes) printError(buildCommandName, clash);
    if (clashes.empty() && outside > 0) printError(buildCommandName, linksOutsideFollowed(outside));
    return clashes.empty();
}
