#pragma once
// Shared pieces of the fuzz targets: a failing check that tells what broke, a reader that takes
// the fuzzer's bytes apart, a scratch folder on a memory file system, patch files written
// sparsely (the 0x60000 bytes before the payload are a hole, so writing one costs nothing), and
// snapshots of folder trees to compare before and after an operation.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A property that does not hold is a finding: say which and stop the process, which libFuzzer
// records as a crash together with the input.
#define FUZZ_CHECK(condition, ...)                                                                        \
    do {                                                                                                  \
        if (!(condition)) {                                                                               \
            std::fprintf(stderr, "\nFUZZ_CHECK failed at %s:%d: %s\n  ", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                            \
            std::fprintf(stderr, "\n");                                                                   \
            std::abort();                                                                                 \
        }                                                                                                 \
    } while (0)

// Takes the fuzzer's bytes apart from the front; past the end every value is 0.
struct InputReader {
    const uint8_t* data;
    size_t size;
    size_t position = 0;

    uint8_t byte();
    uint32_t u32();
    // The next `count` bytes, or fewer at the end.
    Bytes take(size_t count);
    Bytes rest();
    bool atEnd() const { return position >= size; }
};

// A folder of its own for this process on a memory file system ($VENNHOLT_FUZZ_TMP, else /dev/shm,
// else /tmp), removed when the process ends normally. Engine paths use it with "/" inside, which
// the engine passes through unchanged.
const std::string& scratchRoot();
// Removes everything inside `folder` (not the folder itself); creates it when missing.
void emptyFolder(const std::string& folder);
void writeFile(const std::string& path, const Bytes& bytes);
void writeFile(const std::string& path, const std::string& text);
std::optional<Bytes> readFile(const std::string& path);
void makeFolder(const std::string& path);

// A patch file as the engine sees it: `length` bytes, zero but for `tail` at 0x60000.
struct PatchImage {
    uint32_t length = 0;
    Bytes tail;

    // The bytes [position, position + count) when the file holds all of them.
    std::optional<Bytes> slice(uint64_t position, uint64_t count) const;
};
// A patch image of 0x60000 + tail.size() bytes.
PatchImage patchWithPayload(Bytes tail);
// Writes the image to `path` sparsely.
void writePatch(const std::string& path, const PatchImage& image);

// Every file and folder below a root, by path relative to it ("sub/c.arc"); folders have no bytes.
struct TreeNode {
    bool folder = false;
    Bytes bytes;
    bool operator==(const TreeNode&) const = default;
};
using Tree = std::map<std::string, TreeNode>;
Tree snapshotTree(const std::string& root);
// A short description of how two trees differ, empty when they are equal.
std::string describeDifference(const Tree& before, const Tree& after);

// Printable form of a byte string for messages: printable ASCII as is, everything else as \xNN.
std::string printable(const std::string& bytes);
std::string printable(const Bytes& bytes);
