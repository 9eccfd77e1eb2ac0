#pragma once
// What a patch from release OLD to release NEW must carry: every file of NEW (subfolders included)
// is compared by check value with the file of OLD that the updater would take for it, and the new
// and changed ones are chosen; with them goes a version list of the whole of NEW, NEW's own TLX.hvl
// when it describes NEW's files and lets every chosen file find its own record, else one made here.
//
// The updater installs an entry under the name of the first record, in list order, whose last
// component equals the entry's name, and it creates no folders. So a chosen file is packed under
// its last component, the made list puts each chosen file's record before any other of the same
// last component, and whatever the formats cannot carry is listed as a problem instead.

#include <string>
#include <vector>

#include "formats/version_list_writer.h"

enum class FileChange { Changed, New, Removed };

struct ReleaseChange {
    FileChange change;
    std::string path;  // relative to its release, "/" between folders, as the file system spells it
};

struct ChosenFile {
    std::string path;       // where it is read
    std::string shownName;  // relative to NEW, "/" between folders; packed under its last component
};

struct ReleaseComparison {
    std::vector<ReleaseChange> changes;  // NEW's changed and new files in name order, then OLD's removed ones
    size_t unchanged = 0;
    std::vector<ChosenFile> chosen;  // the files to pack, in name order
    // The version list: NEW's own file (`listFile`), or `records` to be made into one.
    std::string listFile;
    std::vector<VersionRecordSource> records;
    std::string listNote;               // which list, and why
    std::vector<std::string> problems;  // what the formats cannot carry; nothing is to be written then
};

// Compares the two releases. False, with a reason in `error`, when a folder or file cannot be read.
bool compareReleases(const std::string& oldFolder, const std::string& newFolder, ReleaseComparison& comparison,
                     std::string& error);
