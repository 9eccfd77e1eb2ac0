#include "tests/support/folder.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Read-only files would survive remove_all on Windows: everything is made writable first.
void removeAll(const std::string& folder) {
    std::error_code ignored;
    for (const auto& item : fs::recursive_directory_iterator(folder, ignored)) {
        fs::permissions(item.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(folder, ignored);
}

}  // namespace

TempFolder::TempFolder() {
    static std::mt19937_64 random(std::random_device{}());
    do path = (fs::temp_directory_path() / ("vennholt-test-" + std::to_string(random()))).string();
    while (!fs::create_directory(path));
}

TempFolder::~TempFolder() { removeAll(path); }

std::string TempFolder::file(const std::string& name) const { return (fs::path(path) / name).string(); }

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void writeFile(const std::string& path, const Bytes& bytes, size_t position) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.seekp(static_cast<std::streamoff>(position))
             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot write " + path);
    }
    out.close();
    fs::resize_file(path, position + bytes.size());
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(in ? static_cast<size_t>(in.tellg()) : 0);
    if (!in.seekg(0).read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

Snapshot snapshot(const std::string& folder) {
    Snapshot files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (item.is_regular_file())
            files[item.path().lexically_relative(folder).generic_string()] = readFile(item.path().string());
    }
    return files;
}

void restore(const std::string& folder, const Snapshot& files) {
    removeAll(folder);
    fs::create_directories(folder);
    for (const auto& [name, bytes] : files) writeFile((fs::path(folder) / name).string(), bytes);
}

std::string difference(const Snapshot& actual, const Snapshot& expected) {
    std::string text;
    for (const auto& [name, bytes] : actual) {
        const auto other = expected.find(name);
        if (other == expected.end() || other->second != bytes) text += (other == expected.end() ? " +" : " ~") + name;
    }
    for (const auto& item : expected) {
        if (actual.count(item.first) == 0) text += " -" + item.first;
    }
    return text;
}
