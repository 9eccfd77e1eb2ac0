#pragma once
// Reference readings of the payload archive, the version list and the uninstall list, written out
// again plainly (whole strings and vectors, no fixed buffers) from the rules of the formats. The
// fuzz targets compare the engine with them. They share only the code page's lead-byte test, the
// lower-casing rule and the existence test with the engine.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/payload_archive.h"
#include "engine/update_result.h"
#include "fuzz/fuzz_support.h"

struct ReferenceEntry {
    std::string name;  // the name field up to its NUL, or the whole field
    uint32_t offset;
    uint32_t size;
};

struct ReferenceArchive {
    UpdateResult result = PayloadDamaged;
    ArchiveLayout layout = ArchiveLayout::Current;
    uint32_t base = 0;
    std::vector<ReferenceEntry> entries;
};

ReferenceArchive referenceOpenArchive(const PatchImage& image);
// Absolute position of entry i's bytes, when it does not pass 2^32 (nor does its end).
std::optional<uint32_t> referenceEntryPosition(const ReferenceArchive& archive, uint32_t i);
// Entry i's bytes when a seek reaches their position and the file holds all of them.
std::optional<Bytes> referenceEntryBytes(const PatchImage& image, const ReferenceArchive& archive, uint32_t i);

struct ReferenceRecord {
    std::string name;
    std::array<uint8_t, 8> checkValue;
};
// The version list in entry i; empty for every problem (no magic, short header or records, an
// unreachable entry).
std::vector<ReferenceRecord> referenceLoadVersionList(const PatchImage& image, const ReferenceArchive& archive,
                                                      uint32_t i);
// Drive and folders dropped; double-byte characters are units.
std::string referenceLastComponent(const std::string& name);
// The lower-casing rule applied to a copy.
std::string referenceLower(const std::string& name);
// Index of the first record whose last component, lower-cased, equals `lowerName`.
std::optional<size_t> referenceFindRecord(const std::vector<ReferenceRecord>& records, const std::string& lowerName);

// What pruning makes of the installed list `list` in `folder` (joined as "<folder>\<name>", which
// the engine turns into a native path): the rewritten bytes, or nothing when the list is to stay
// as it is (not a list, short, a joined path of 260 bytes or more).
std::optional<Bytes> referencePrune(const Bytes& list, const std::string& folder);

struct ReferenceUninstall {
    std::vector<std::string> plain;
    std::vector<std::string> dollar;
    bool operator==(const ReferenceUninstall&) const = default;
};
// Lines of a text that ends at its first NUL (or at the end of `text`).
ReferenceUninstall referenceParseUninstall(const std::string& text);
void referenceAddNames(ReferenceUninstall& lists, const std::vector<std::string>& names);
Bytes referenceWriteUninstall(const ReferenceUninstall& lists);
// The merged file for an uninst.lst of these bytes (nothing: missing), or nothing when the merge
// is to fail (missing or empty list).
std::optional<Bytes> referenceMerge(const std::optional<Bytes>& file, const std::vector<std::string>& names);
