#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "engine/payload_archive.h"

namespace fs = std::filesystem;

uint8_t InputReader::byte() { return position < size ? data[position++] : 0; }

uint32_t InputReader::u32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
    return value;
}

Bytes InputReader::take(size_t count) {
    const size_t available = position < size ? size - position : 0;
    const size_t taken = count < available ? count : available;
    Bytes bytes(data + position, data + position + taken);
    position += taken;
    return bytes;
}

Bytes InputReader::rest() { return take(size); }

namespace {

std::string makeScratchRoot() {
    std::string base;
    if (const char* configured = std::getenv("VENNHOLT_FUZZ_TMP"); configured != nullptr && *configured != '\0') {
        base = configured;
    } else {
        std::error_code error;
        base = fs::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp";
    }
    std::string pattern = base + "/vennholt-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "fuzz: cannot create a scratch folder under %s\n", base.c_str());
        std::abort();
    }
    return pattern;
}

void removeScratchRoot() {
    std::error_code error;
    fs::remove_all(scratchRoot(), error);
}

}  // namespace

const std::string& scratchRoot() {
    // Kept for the life of the process: the exit handler that removes the folder runs after static
    // objects are gone.
    static const std::string* root = [] {
        const std::string* made = new std::string(makeScratchRoot());
        std::atexit(removeScratchRoot);
        return made;
    }();
    return *root;
}

void emptyFolder(const std::string& folder) {
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fs::create_directories(folder, error);
        return;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        // A test may have left a file without write permission; root removes it anyway.
        fs::remove_all(entry.path(), error);
    }
}

void writeFile(const std::string& path, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0, "cannot create %s", path.c_str());
    FUZZ_CHECK(bytes.empty() || ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()),
               "cannot write %s", path.c_str());
    ::close(fd);
}

void writeFile(const std::string& path, const std::string& text) { writeFile(path, Bytes(text.begin(), text.end())); }

std::optional<Bytes> readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    Bytes bytes;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(fd);
    return bytes;
}

void makeFolder(const std::string& path) {
    std::error_code error;
    fs::create_directories(path, error);
}

std::optional<Bytes> PatchImage::slice(uint64_t position, uint64_t count) const {
    if (position > length || count > length - position) return std::nullopt;
    Bytes bytes(static_cast<size_t>(count), 0);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = position + i;
        if (at >= payloadOffset && at - payloadOffset < tail.size()) bytes[i] = tail[at - payloadOffset];
    }
    return bytes;
}

PatchImage patchWithPayload(Bytes tail) {
    PatchImage image;
    image.length = static_cast<uint32_t>(payloadOffset + tail.size());
    image.tail = std::move(tail);
    return image;
}

void writePatch(const std::string& path, const PatchImage& image) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    FUZZ_CHECK(fd >= 0, "cannot create %s", path.c_str());
    FUZZ_CHECK(::ftruncate(fd, image.length) == 0, "cannot size %s", path.c_str());
    if (!image.tail.empty()) {
        FUZZ_CHECK(::pwrite(fd, image.tail.data(), image.tail.size(), payloadOffset) ==
                       static_cast<ssize_t>(image.tail.size()),
                   "cannot write %s", path.c_str());
    }
    ::close(fd);
}

Tree snapshotTree(const std::string& root) {
    Tree tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const std::string relative = it->path().lexically_relative(root).string();
        TreeNode node;
        node.folder = it->is_directory(error);
        if (!node.folder) {
            const std::optional<Bytes> bytes = readFile(it->path().string());
            FUZZ_CHECK(bytes.has_value(), "cannot read %s", it->path().c_str());
            node.bytes = *bytes;
        }
        tree.emplace(relative, std::move(node));
    }
    return tree;
}

std::string describeDifference(const Tree& before, const Tree& after) {
    std::string text;
    for (const auto& [path, node] : before) {
        const auto found = after.find(path);
        if (found == after.end()) {
            text += " removed:" + printable(path);
        } else if (!(found->second == node)) {
            text += " changed:" + printable(path);
        }
    }
    for (const auto& [path, node] : after) {
        if (before.count(path) == 0) text += " added:" + printable(path);
    }
    return text;
}

std::string printable(const std::string& bytes) {
    std::string text;
    for (const unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::string printable(const Bytes& bytes) { return printable(std::string(bytes.begin(), bytes.end())); }
