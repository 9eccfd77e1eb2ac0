#pragma once
// A fresh, uniquely named folder under the system's temporary folder, removed with everything in
// it when the object goes away. Paths are handed out as narrow strings, as the engine takes them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder itself, without a trailing separator.
    const std::string& path() const { return path_; }
    // The folder joined with a relative name by the platform's separator.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Whole-file helpers for setting up and checking test folders.
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void writeFileText(const std::string& path, const std::string& text);
std::vector<uint8_t> readFileBytes(const std::string& path);
bool fileExists(const std::string& path);
