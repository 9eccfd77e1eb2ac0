// The entries of a --from build: the files directly in a folder, and its version list.
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <memory>

#include "engine/version_list.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/build/release_lists.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/report.h"

namespace {

bool isVersionListName(const std::string& name) { return foldedName(name) == foldedName(versionListName); }

// The files directly in `folder`. False, after listing on standard error what the folder holds that
// is no file or folder, or with a reason in `error`, when they cannot be read.
bool filesOfFolder(const std::string& folder, std::vector<std::string>& names, std::string& error) {
    FolderContents contents;
    if (!readReleaseFolder(folder, false, contents, error)) return false;
    for (const std::string& problem : contents.problems) printError(buildCommandName, problem);
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
        if (isReleaseList(name)) continue;
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
    if (!filesOfFolder(folder, files, error)) return false;
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
    for (const std::string& name : names) {
        chosen.sources.push_back({name, folder + "/" + name, {}});
        folderHasList = folderHasList || isVersionListName(name);
    }
    if (arguments.has("hvl")) {
        if (folderHasList) {
            error = folder + " holds a version list already; leave out --hvl or the folder's TLX.hvl";
            return false;
        }
        chosen.sources.push_back({versionListName, arguments.value("hvl"), {}});
    } else if (!folderHasList) {
        if (arguments.has("hvl-from") && !recordsOfFolder(arguments.value("hvl-from"), chosen.records, error)) {
            return false;
        }
        chosen.listRecords = arguments.has("hvl-from") ? chosen.records.size() : chosen.sources.size();
        chosen.gatherRecords = !arguments.has("hvl-from");
    }
    return true;
}
