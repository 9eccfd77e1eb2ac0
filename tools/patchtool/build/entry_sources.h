#pragma once
// Where the entries of a patch come from, one file each: the files named on the command line
// (named_entries.cpp), the files of a folder (folder_entries.cpp), and what changed between release
// folders (release_entries.cpp). Each hands the plan of the archive the files to pack and what the
// version list is to be.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/check_value.h"
#include "formats/version_list_writer.h"
#include "tools/patchtool/arguments.h"

// The name build's messages go under.
inline constexpr char buildCommandName[] = "build";

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
    // The release folder the file was found in, when its bytes must come from inside it: a link there
    // swapped after the folder was read must not bring in a file from elsewhere. Empty for a file
    // named on the command line, and when links outside are followed.
    std::string releaseFolder;
};

struct ChosenEntries {
    std::vector<EntrySource> sources;
    // The number of records of a version list this build makes (appended as the last entry), or none.
    std::optional<size_t> listRecords;
    // The made list's records, given beforehand; or, with `gatherRecords`, gathered from the packed
    // files' check values while they are copied.
    std::vector<VersionRecordSource> records;
    bool gatherRecords = false;
};

// ENTRY operands (PATH, or NAME=PATH) and --hvl FILE.
ChosenEntries namedEntries(const ParsedArguments& arguments);

// The entries of a --from build: the folder's files (in name order, in the order of --order, or as
// the operands name them) and its version list: the folder's own TLX.hvl, --hvl FILE, or one made by
// this build (from --hvl-from DIR, else from the packed files). False, with a reason in `error` (or
// after printing the reasons), when they cannot be chosen.
bool folderEntries(const ParsedArguments& arguments, ChosenEntries& chosen, std::string& error);

// The entries of a --base build: the new and changed files of NEW, and the version list. Prints what
// was chosen and why. False, with a reason in `error` (or after printing the reasons), when no patch
// can be built.
bool releaseEntries(const ParsedArguments& arguments, ChosenEntries& chosen, std::string& error);

// The last component of a UTF-8 path.
std::string fileNameOf(const std::string& path);
