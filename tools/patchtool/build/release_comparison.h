#pragma once
// What a patch from earlier releases (the bases) to release NEW must carry: every file of NEW
// (subfolders included) is compared by its bytes with the file of each base that the updater would
// replace with it, and those that some base lacks or holds with other bytes are chosen; with them
// goes a version list of the whole of NEW, NEW's own TLX.hvl when it describes NEW's files and lets
// every chosen file find its own record, else one made here. The patch then brings an install of
// any of the bases to NEW.
//
// The updater installs an entry under the name of the first record, in list order, whose last
// component equals the entry's name, and it creates no folders. So a chosen file is packed under
// its last component, the made list puts each chosen file's record before any other of the same
// last component, and whatever the formats cannot carry is listed as a problem instead, as is
// whatever makes the releases unfit to compare (see FolderContents) and a NEW that gives nothing
// to carry.

#include <string>
#include <vector>

#include "engine/check_value.h"
#include "formats/version_list_writer.h"

enum class FileChange { Changed, New, Removed };

struct ReleaseChange {
    FileChange change;
    std::string path;  // relative to its release, "/" between folders, as the file system spells it
    // Changed: the bases (their positions) against which the file is new or changed; New: none, as
    // it is new against every base; Removed: the one base that holds it.
    std::vector<size_t> bases;
    std::string from;  // where a link brought the file in from outside its release; empty inside it
};

struct ChosenFile {
    std::string path;       // where it is read
    std::string shownName;  // relative to NEW, "/" between folders; packed under its last component
    uint64_t size = 0;      // its size and check value when it was compared, which its record holds
    CheckValue value;
};

struct ReleaseComparison {
    // NEW's changed and new files in name order, then per base, in the bases' order, the files of
    // the base that NEW lacks.
    std::vector<ReleaseChange> changes;
    size_t unchanged = 0;            // files of NEW that every base holds with the same bytes
    std::vector<ChosenFile> chosen;  // the files to pack, in name order
    // The version list: NEW's own file (`listFile`), or `records` to be made into one.
    std::string listFile;
    std::vector<VersionRecordSource> records;
    std::string listNote;               // which list, and why
    bool uninstallListLeftOut = false;  // NEW holds an uninst.lst, which takes no part
    size_t outsideFiles = 0;            // files of the releases that links brought in from outside them
    // Why no patch can be built, one line each; nothing is to be written then.
    std::vector<std::string> problems;
};

// Compares the releases; a file a link brings in from outside its release folder is a problem unless
// `followLinksOutside`. False, with a reason in `error`, when a folder or file cannot be read.
bool compareReleases(const std::vector<std::string>& baseFolders, const std::string& newFolder, bool followLinksOutside,
                     ReleaseComparison& comparison, std::string& error);
