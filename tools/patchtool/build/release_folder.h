#pragma once
// Walking a release folder for patchtool build: its files in name order (those directly in it, or
// every file below it, links to files and folders followed) and its folders.

#include <string>
#include <vector>

struct FolderContents {
    // Paths relative to the folder, UTF-8, "/" between folders, each list sorted by its bytes.
    std::vector<std::string> files;
    std::vector<std::string> folders;  // every folder below it, empty ones too
    // What a release cannot hold, one line each naming its path: a link that leads nowhere or into a
    // loop of links, a link back to a folder that holds it, something that is neither a file nor a
    // folder (a socket, a pipe, a device), a name that is not UTF-8.
    std::vector<std::string> problems;
};

// Reads `folder`: the entries directly in it, or with `recursive` every one below it. False, with a
// reason in `error`, when a folder cannot be read.
bool readReleaseFolder(const std::string& folder, bool recursive, FolderContents& contents, std::string& error);
