#include "tools/patchtool/game_folder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "tools/patchtool/files.h"
#include "tools/patchtool/report.h"

namespace fs = std::filesystem;

bool listFolderFiles(const std::string& folder, std::vector<std::string>& names, std::string& error) {
    std::error_code failure;
    fs::directory_iterator it(folder, failure);
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    for (; it != fs::directory_iterator(); it.increment(failure)) {
        if (failure) break;
        if (it->is_regular_file(failure)) names.push_back(it->path().filename().string());
    }
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    return true;
}

bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& error) {
    uint64_t size = 0;
    std::FILE* file = openInputFile(path, size, error);
    if (file == nullptr) return false;
    std::string line;
    for (int c = std::fgetc(file);; c = std::fgetc(file)) {
        if (c == EOF || c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) names.push_back(line);
            line.clear();
            if (c == EOF) break;
        } else {
            line += static_cast<char>(c);
        }
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) error = path + ": " + lastSystemError();
    return !failed;
}

bool checkValueOfFile(const std::string& path, CheckValue& value, std::string& error) {
    uint64_t size = 0;
    std::FILE* file = openInputFile(path, size, error);
    if (file == nullptr) return false;
    constexpr size_t chunkSize = 1u << 20;
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunkSize]);
    value.reset();
    size_t moved = 0;
    while ((moved = std::fread(buffer.get(), 1, chunkSize, file)) > 0) value.update(buffer.get(), static_cast<uint32_t>(moved));
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) error = path + ": " + lastSystemError();
    return !failed;
}
