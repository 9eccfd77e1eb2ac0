#include "tools/patchtool/build/release_folder.h"

#include <algorithm>
#include <filesystem>

#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/platform.h"

namespace fs = std::filesystem;

namespace {

struct Walk {
    const std::string& root;
    bool recursive;
    FolderContents& contents;
    std::vector<fs::path> holders;  // the folders on the way down, resolved: a link to one is a loop
};

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
        } else if (status.type() == fs::file_type::regular) {
            walk.contents.files.push_back(path);
        } else if (status.type() != fs::file_type::directory) {
            addProblem(walk, path, refused("", refusal::notFileOrFolder, "a socket, a pipe or a device"));
        } else if (walk.recursive) {
            const fs::path resolved = fs::canonical(it->path(), followed);
            if (followed) {
                addProblem(walk, path, followed.message());
            } else if (std::find(walk.holders.begin(), walk.holders.end(), resolved) != walk.holders.end()) {
                addProblem(walk, path, refusal::linkBack);
            } else {
                walk.contents.folders.push_back(path);
                walk.holders.push_back(resolved);
                if (!walkFolder(walk, it->path(), path, error)) return false;
                walk.holders.pop_back();
            }
        }
    }
    if (!failure) return true;
    error = walk.root + (relative.empty() ? "" : "/" + relative) + ": " + failure.message();
    return false;
}

}  // namespace

bool readReleaseFolder(const std::string& folder, bool recursive, FolderContents& contents, std::string& error) {
    contents = {};
    std::error_code failure;
    const fs::path root = fileSystemPath(folder);
    Walk walk{folder, recursive, contents, {fs::canonical(root, failure)}};
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
