#include "tools/patchtool/game_folder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tools/patchtool/files.h"
#include "tools/patchtool/report.h"

namespace fs = std::filesystem;

namespace {

template <typename Iterator>
bool collectFiles(const std::string& folder, Iterator it, std::vector<std::string>& names, std::string& error) {
    std::error_code failure;
    for (; !failure && it != Iterator(); it.increment(failure)) {
        if (it->is_regular_file(failure)) names.push_back(it->path().lexically_relative(folder).generic_string());
    }
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

}  // namespace

bool listFolderFiles(const std::string& folder, bool recursive, std::vector<std::string>& names, std::string& error) {
    std::error_code failure;
    if (recursive) {
        fs::recursive_directory_iterator it(folder, failure);
        if (!failure) return collectFiles(folder, std::move(it), names, error);
    } else {
        fs::directory_iterator it(folder, failure);
        if (!failure) return collectFiles(folder, std::move(it), names, error);
    }
    error = folder + ": " + failure.message();
    return false;
}

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
