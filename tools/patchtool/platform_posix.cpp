// patchtool on POSIX: file calls of the C library and POSIX on UTF-8 paths, and name conversions
// through iconv.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"

namespace {

// The whole of `input` converted, or nothing when iconv refuses any of it.
std::optional<std::string> convert(const char* to, const char* from, const std::string& input) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::vector<char> source(input.begin(), input.end());
    std::vector<char> target(input.size() * 4 + 4);
    char* in = source.data();
    size_t inLeft = source.size();
    char* out = target.data();
    size_t outLeft = target.size();
    const size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    const bool complete = converted != static_cast<size_t>(-1) && inLeft == 0 &&
                          iconv(converter, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (!complete) return std::nullopt;
    return std::string(target.data(), out);
}

}  // namespace

std::optional<std::string> utf8ToCodePage932(const std::string& name) {
    std::optional<std::string> encoded = convert("CP932", "UTF-8", name);
    // iconv substitutes look-alikes for some characters (a yen sign becomes 0x5C); only a name that
    // comes back unchanged is written in code page 932 exactly.
    if (!encoded || codePage932ToUtf8(encoded->data(), encoded->size()) != name) return std::nullopt;
    return encoded;
}

uint32_t decodeDoubleByteCharacter(uint8_t lead, uint8_t trail) {
    const std::optional<std::string> utf8 =
        convert("UTF-8", "CP932", std::string{static_cast<char>(lead), static_cast<char>(trail)});
    if (!utf8 || utf8->empty()) return 0;
    // One character of the basic multilingual plane: two or three UTF-8 bytes.
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8->data());
    if (utf8->size() == 2 && (bytes[0] & 0xE0) == 0xC0) return (bytes[0] & 0x1Fu) << 6 | (bytes[1] & 0x3Fu);
    if (utf8->size() == 3 && (bytes[0] & 0xF0) == 0xE0) {
        return (bytes[0] & 0x0Fu) << 12 | (bytes[1] & 0x3Fu) << 6 | (bytes[2] & 0x3Fu);
    }
    return 0;
}

std::vector<std::string> commandLineArguments(int argc, char** argv) { return {argv, argv + argc}; }

std::filesystem::path fileSystemPath(const std::string& utf8) { return utf8; }

bool utf8Path(const std::filesystem::path& path, std::string& utf8) {
    utf8 = path.native();
    return convert("UTF-8", "UTF-8", utf8).has_value();
}

std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::optional<std::string> engineFilePath(const std::string& path) { return path; }

std::optional<std::string> engineFolderPath(const std::string& folder) { return folder + "/"; }

void useUtf8Console() {}

bool isTerminal(std::FILE* stream) { return ::isatty(fileno(stream)) != 0; }

void setBinaryMode(std::FILE*) {}

bool regularFileSize(std::FILE* stream, uint64_t& size) {
    struct stat status {};
    if (::fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

std::FILE* createExclusiveFile(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    std::FILE* stream = ::fdopen(descriptor, "wb");
    if (stream == nullptr) {
        ::close(descriptor);
        ::unlink(path.c_str());
    }
    return stream;
}

unsigned processId() { return static_cast<unsigned>(::getpid()); }

bool syncToDisk(std::FILE* stream) { return ::fsync(fileno(stream)) == 0; }

std::filesystem::path finalPath(const std::filesystem::path& path, std::error_code& failure) {
    return std::filesystem::canonical(path, failure);
}

std::filesystem::path finalPathOfOpenFile(std::FILE* stream, std::error_code& failure) {
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fileno(stream)), failure);
}

bool isReplaceableDestination(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode);
}

bool moveOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::string ownExecutableFolder() {
    std::error_code failure;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", failure);
    return failure ? std::string() : executable.parent_path().string();
}

std::string describeSystemError(uint32_t code) {
    std::string text = std::strerror(static_cast<int>(code));
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}
