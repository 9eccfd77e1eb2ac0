#pragma once
// Walking a release folder for patchtool build: its files in name order (those directly in it, or
// every file below it, links to files and folders followed) and its folders. A release is what is
// in its folder: a link that leads outside it brings in bytes nobody put in the release, a key or
// another product's data, and is refused unless the build says it means it.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// The option of build that takes files from outside their release folders.
inline constexpr char followLinksOutsideOption[] = "follow-links-outside";

struct FolderReading {
    bool recursive = false;           // every file below the folder, not only those directly in it
    bool followLinksOutside = false;  // take files that links lead to outside the folder
};

struct FolderContents {
    // Paths relative to the folder, UTF-8, "/" between folders, each list sorted by its bytes.
    std::vector<std::string> files;
    std::vector<std::string> folders;  // every folder below it, empty ones too
    // The files among `files` that lie outside the folder, reached through links, and where each
    // is (UTF-8); only when reading follows links outside.
    std::map<std::string, std::string> outside;
    // What a release cannot hold, one line each naming its path: a link that leads nowhere, into a
    // loop of links, or outside the folder (unless followed), a link back to a folder that holds it,
    // something that is neither a file nor a folder (a socket, a pipe, a device), a name that is not
    // UTF-8.
    std::vector<std::string> problems;
};

// Reads `folder`. False, with a reason in `error`, when a folder cannot be read.
bool readReleaseFolder(const std::string& folder, FolderReading reading, FolderContents& contents, std::string& error);

// True when `path` is `folder` or lies below it, both resolved (see finalPath).
bool liesWithin(const std::filesystem::path& path, const std::filesystem::path& folder);
// The refusal of `subject`, a link that leads outside its release folder, to `resolved`.
std::string leadsOutside(const std::string& subject, const std::filesystem::path& resolved);

// The listing's note for a file a link brought in from outside its release folder: "  (from WHERE)".
std::string outsideNote(const std::string& where);
// The one warning of a build that followed links outside: how many files it read from outside.
std::string linksOutsideFollowed(size_t files);
