// patchtool build: a patch from a setup.exe stub and the files it is to install.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/code_page.h"
#include "engine/payload_archive.h"
#include "formats/payload_archive_writer.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/report.h"

namespace {

constexpr const char* command = "build";
constexpr uint32_t chunkSize = 1u << 20;
// The updater seeks with a signed 32-bit distance: every entry must start below 2 GiB.
constexpr uint64_t seekLimit = 0x80000000ull;

struct PlannedEntry {
    std::string path;
    std::string givenName;  // as typed, for messages
    std::string name;       // code page 932 bytes, as stored
    uint32_t size = 0;
};

// The last component of a path: the installed name when none is given.
std::string baseName(const std::string& path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
#ifdef _WIN32
        if (isLeadByte(static_cast<unsigned char>(path[i]))) {
            ++i;
            continue;
        }
        if (path[i] == '\\' || path[i] == ':') start = i + 1;
#endif
        if (path[i] == '/') start = i + 1;
    }
    return path.substr(start);
}

std::string lowerCased(const std::string& name) {
    std::vector<char> work(name.begin(), name.end());
    work.push_back('\0');
    lowerCaseName(work.data());
    return work.data();
}

// ENTRY is PATH (installed under the path's file name) or NAME=PATH, split at the first "=".
bool planEntry(const std::string& operand, ArchiveLayout layout, PlannedEntry& entry, std::string& error) {
    const size_t equals = operand.find('=');
    entry.path = equals == std::string::npos ? operand : operand.substr(equals + 1);
    entry.givenName = equals == std::string::npos ? baseName(operand) : operand.substr(0, equals);
    if (entry.path.empty()) {
        error = "entry '" + operand + "' names no file";
        return false;
    }
    if (entry.givenName.empty()) {
        error = "entry '" + operand + "' has an empty name";
        return false;
    }
    const std::optional<std::string> encoded = commandLineNameToCodePage932(entry.givenName);
    if (!encoded) {
        error = "entry name '" + entry.givenName + "' has characters that code page 932 cannot hold";
        return false;
    }
    entry.name = *encoded;
    const uint32_t longest = layoutInfo(layout).nameField - 1;
    if (entry.name.size() > longest) {
        error = "entry name '" + entry.givenName + "' is " + std::to_string(entry.name.size()) +
                " bytes in code page 932; the " + (layout == ArchiveLayout::Current ? "current" : "legacy") +
                " layout holds at most " + std::to_string(longest);
        return false;
    }
    uint64_t size = 0;
    std::FILE* file = openInputFile(entry.path, size, error);
    if (file == nullptr) return false;
    std::fclose(file);
    if (size > 0xFFFFFFFFull) {
        error = entry.path + ": 4 GiB or larger; entries are limited to 4 GiB - 1 bytes";
        return false;
    }
    entry.size = static_cast<uint32_t>(size);
    return true;
}

// Copies exactly `count` bytes; the file must neither end early nor hold more.
bool copyExactly(std::FILE* from, const std::string& fromPath, uint64_t count, PendingFile& to, uint8_t* buffer,
                 std::string& error) {
    while (count > 0) {
        const size_t wanted = count < chunkSize ? static_cast<size_t>(count) : chunkSize;
        const size_t moved = std::fread(buffer, 1, wanted, from);
        if (moved < wanted) {
            error = fromPath + (std::ferror(from) ? ": " + lastSystemError() : ": became shorter while being read");
            return false;
        }
        if (std::fwrite(buffer, 1, moved, to.stream) != moved) {
            error = to.temporary + ": " + lastSystemError();
            return false;
        }
        count -= moved;
    }
    if (std::fgetc(from) != EOF) {
        error = fromPath + ": grew while being read";
        return false;
    }
    return true;
}

bool copyFile(const std::string& path, uint64_t expectedSize, PendingFile& to, uint8_t* buffer, std::string& error) {
    uint64_t size = 0;
    std::FILE* from = openInputFile(path, size, error);
    if (from == nullptr) return false;
    const bool copied = size == expectedSize ? copyExactly(from, path, size, to, buffer, error) : false;
    if (size != expectedSize) error = path + ": changed while the patch was being built";
    std::fclose(from);
    return copied;
}

bool writeBytes(const uint8_t* bytes, size_t count, PendingFile& to, std::string& error) {
    if (count == 0 || std::fwrite(bytes, 1, count, to.stream) == count) return true;
    error = to.temporary + ": " + lastSystemError();
    return false;
}

// Stub, zero padding, header and index, then every entry's bytes in order.
bool writePatch(const std::string& stubPath, uint64_t stubSize, const std::vector<uint8_t>& head,
                const std::vector<PlannedEntry>& entries, PendingFile& patch, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunkSize]);
    if (!copyFile(stubPath, stubSize, patch, buffer.get(), error)) return false;
    const std::vector<uint8_t> padding(payloadOffset - stubSize, 0);
    if (!writeBytes(padding.data(), padding.size(), patch, error)) return false;
    if (!writeBytes(head.data(), head.size(), patch, error)) return false;
    const bool showProgress = isTerminal(stderr);
    bool copied = true;
    for (size_t i = 0; copied && i < entries.size(); ++i) {
        if (showProgress) {
            std::fprintf(stderr, "\rpatchtool: build: entry %zu of %zu: %s\x1b[K", i + 1, entries.size(),
                         entries[i].givenName.c_str());
        }
        copied = copyFile(entries[i].path, entries[i].size, patch, buffer.get(), error);
    }
    if (showProgress) std::fprintf(stderr, "\r\x1b[K");
    return copied;
}

// Every ENTRY operand planned and checked, names compared as the updater compares them.
bool planEntries(const std::vector<std::string>& operands, ArchiveLayout layout, std::vector<PlannedEntry>& entries,
                 std::string& error) {
    if (operands.size() > maxArchiveEntries) {
        error = std::to_string(operands.size()) + " entries given; a patch holds at most " +
                std::to_string(maxArchiveEntries);
        return false;
    }
    for (const std::string& operand : operands) {
        PlannedEntry entry;
        if (!planEntry(operand, layout, entry, error)) return false;
        for (const PlannedEntry& earlier : entries) {
            if (lowerCased(earlier.name) == lowerCased(entry.name)) {
                error = "entry name '" + entry.givenName +
                        "' is given twice (names are compared without regard to case, as the updater finds them)";
                return false;
            }
        }
        entries.push_back(entry);
    }
    return true;
}

bool checkStub(const std::string& path, uint64_t& size, std::string& error) {
    std::FILE* stub = openInputFile(path, size, error);
    if (stub == nullptr) {
        error = "stub " + error;
        return false;
    }
    std::fclose(stub);
    if (size <= payloadOffset) return true;
    error = "stub " + path + " is " + std::to_string(size) +
            " bytes; it must not be longer than 393216 (0x60000), where the payload begins";
    return false;
}

// Header and index of the archive, and the size of the whole patch. Every entry must start where
// the updater can seek, and the patch must stay below 4 GiB.
bool planArchive(const std::vector<PlannedEntry>& entries, ArchiveLayout layout, std::vector<uint8_t>& head,
                 uint64_t& patchSize, std::string& error) {
    std::vector<PayloadEntryShape> shapes;
    for (const PlannedEntry& entry : entries) shapes.push_back({entry.name, entry.size});
    std::optional<std::vector<uint8_t>> made = makePayloadArchiveHead(shapes, layout);
    patchSize = static_cast<uint64_t>(payloadOffset) + (made ? made->size() : 0);
    for (const PlannedEntry& entry : entries) {
        if (patchSize >= seekLimit) {
            error = "entry '" + entry.givenName + "' would start at byte " + std::to_string(patchSize) +
                    "; the updater reads entries that start below 2 GiB";
            return false;
        }
        patchSize += entry.size;
    }
    if (!made || patchSize > 0xFFFFFFFFull) {
        error = "the patch would be 4 GiB or larger; patches stay below that";
        return false;
    }
    head = std::move(*made);
    return true;
}

int run(const ParsedArguments& arguments) {
    if (!arguments.has("stub")) return usageError(command, "--stub STUB is required");
    if (!arguments.has("out")) return usageError(command, "--out PATCH is required");
    const ArchiveLayout layout = arguments.has("legacy") ? ArchiveLayout::Legacy : ArchiveLayout::Current;
    const std::string& stubPath = arguments.value("stub");
    const std::string& patchPath = arguments.value("out");

    std::string error;
    std::vector<PlannedEntry> entries;
    uint64_t stubSize = 0;
    std::vector<uint8_t> head;
    uint64_t patchSize = 0;
    PendingFile patch;
    if (!planEntries(arguments.operands, layout, entries, error) || !checkStub(stubPath, stubSize, error) ||
        !planArchive(entries, layout, head, patchSize, error) || !createPendingFile(patchPath, patch, error)) {
        printError(command, error);
        return exitFailed;
    }
    if (!writePatch(stubPath, stubSize, head, entries, patch, error)) {
        discardPendingFile(patch);
        printError(command, error);
        return exitFailed;
    }
    if (!commitPendingFile(patch, error)) {
        printError(command, error);
        return exitFailed;
    }
    std::printf("%s: %zu entries, %s layout, %llu bytes\n", patchPath.c_str(), entries.size(),
                layout == ArchiveLayout::Current ? "current" : "legacy", static_cast<unsigned long long>(patchSize));
    return exitOk;
}

}  // namespace

const Command buildCommand = {
    "build",
    "build a patch from a setup.exe stub and the files to install",
    "Usage: patchtool build --stub STUB --out PATCH [--legacy] [ENTRY...]\n"
    "\n"
    "Writes PATCH: the STUB executable padded with zero bytes to 0x60000 (393216), followed by a\n"
    "payload archive of the ENTRY files in the order given, their bytes back to back.\n"
    "\n"
    "  --stub STUB   the updater executable; at most 393216 bytes\n"
    "  --out PATCH   the patch to write; written under a temporary name and moved into place only\n"
    "                when complete, so a failed build leaves an existing PATCH untouched. An\n"
    "                existing PATCH must be a regular file (not a folder, device or link)\n"
    "  --legacy      write the legacy layout (32-byte index entries, names of at most 15 bytes)\n"
    "                instead of the current one (128-byte index entries, names of at most 95 bytes)\n"
    "\n"
    "ENTRY is PATH, installed under the path's file name, or NAME=PATH (split at the first '=';\n"
    "a path that contains '=' needs the NAME=PATH form). Names are stored in code page 932 and may\n"
    "carry a folder part with '\\'. At most 32 entries; names that do not fit the layout, names\n"
    "that code page 932 cannot hold and names given twice (ignoring case) are refused.\n",
    {{"stub", true}, {"out", true}, {"legacy", false}},
    run,
};
