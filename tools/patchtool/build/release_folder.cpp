#include "tools/patchtool/build/release_folder.h"

#include <algorithm>
#include <filesystem>

#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"

namespace fs = std::filesystem;

namespace {

struct Walk {
    const std::string& root;
    FolderReading reading;
    FolderContents& contents;
    std::vector<fs::path> holders;  // the folders on the way down, resolved: a link to one is a loop
};

// Where a path that leads outside the folder is, as its refusal and the listing show it.
std::string shownPath(const fs::path& resolved) {
    std::string shown;
    return utf8Path(resolved, shown) ? shown : resolved.string();
}

void addProblem(Walk& walk, const std::string& relative, const std::string& problem) {
    walk.contents.problems.push_back(walk.root + "/" + relative + ": " + problem);
}

// Why a name leads to no file or folder: the link cannot be followed, or the system says why.
std::string unreachable(const std::error_code& failure) {
    if (failure == std::errc::too_many_symbolic_link_levels) return refusal::linkLoop;
    if (!failure || failure == std::errc::no_such_file_or_directory) return refusal::danglingLink;
    return failure.message();
}

bool walkFolder(Walk& walk, const fs::path& folder, const std::string& relative, std::string& error) {
    std::error_code failure;
    fs::directory_iterator it(folder, failure);
    for (; !failure && it != fs::directory_iterator(); it.increment(failure)) {
        std::string name;
        const bool utf8 = utf8Path(it->path().filename(), name);
        const std::string path = relative.empty() ? name : relative + "/" + name;
        if (!utf8) {
            addProblem(walk, path,
                       refused("", refusal::notUtf8, "names are read as UTF-8 and stored in code page 932"));
            continue;
        }
        std::error_code followed;
        const fs::file_status status = fs::status(it->path(), followed);  // through links
        if (followed || status.type() == fs::file_type::not_found) {
            addProblem(walk, path, unreachable(followed));
            continue;
        }
        const bool isFile = status.type() == fs::file_type::regular;
        if (!isFile && status.type() != fs::file_type::directory) {
            addProblem(walk, path, refused("", refusal::notFileOrFolder, "a socket, a pipe or a device"));
            continue;
        }
        if (!isFile && !walk.reading.recursive) continue;
        const fs::path resolved = finalPath(it->path(), followed);
        if (followed) {
            addProblem(walk, path, unreachable(followed));
            continue;
        }
        const bool outside = !liesWithin(resolved, walk.holders.front());
        if (outside && !walk.reading.followLinksOutside) {
            walk.contents.problems.push_back(leadsOutside(walk.root + "/" + path, resolved));
        } else if (isFile) {
            walk.contents.files.push_back(path);
            if (outside) walk.contents.outside.emplace(path, shownPath(resolved));
        } else if (std::find(walk.holders.begin(), walk.holders.end(), resolved) != walk.holders.end()) {
            addProblem(walk, path, refusal::linkBack);
        } else {
            walk.contents.folders.push_back(path);
            walk.holders.push_back(resolved);
            if (!walkFolder(walk, it->path(), path, error)) return false;
            walk.holders.pop_back();
        }
    }
    if (!failure) return true;
    error = walk.root + (relative.empty() ? "" : "/" + relative) + ": " + failure.message();
    return false;
}

}  // namespace

bool readReleaseFolder(const std::string& folder, FolderReading reading, FolderContents& contents, std::string& error) {
    contents = {};
    std::error_code failure;
    const fs::path root = fileSystemPath(folder);
    Walk walk{folder, reading, contents, {finalPath(root, failure)}};
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    if (!walkFolder(walk, root, "", error)) return false;
    std::sort(contents.files.begin(), contents.files.end());
    std::sort(contents.folders.begin(), contents.folders.end());
    std::sort(contents.problems.begin(), contents.problems.end());
    return true;
}

bool liesWithin(const fs::path& path, const fs::path& folder) {
    auto part = path.begin();
    for (const fs::path& component : folder) {  // a component at a time: "game-old" is not in "game"
        if (part == path.end() || *part != component) return false;
        ++part;
    }
    return true;
}

std::string leadsOutside(const std::string& subject, const fs::path& resolved) {
    return refused(subject, refusal::linkOutside,
                   "to " + shownPath(resolved) + "; --" + followLinksOutsideOption + " takes it");
}

std::string outsideNote(const std::string& where) { return "  (from " + where + ")"; }

std::string linksOutsideFollowed(size_t files) {
    return "warning: " + countOf(files, "file was", "files were") +
           (files == 1 ? " read through a link from outside its release folder"
                       : " read through links from outside their release folders") +
           " (--" + followLinksOutsideOption + ")";
}
