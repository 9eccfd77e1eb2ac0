#pragma once
// The plan of a patch's archive: every entry's stored name and size, checked as the updater will
// judge them, and the header and index that go before their bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/payload_archive.h"
#include "tools/patchtool/build/entry_sources.h"

struct PlannedEntry {
    std::string path;
    std::string givenName;  // as typed, for messages
    std::string name;       // code page 932 bytes, as stored
    uint32_t size = 0;
    bool generatedList = false;  // the version list made by this build from the packed files
    std::optional<RecordedBytes> recorded;
    std::string releaseFolder;  // see EntrySource
};

// The message of a file that changed between the pass that compared it and the copy.
std::string changedWhileBuilding(const std::string& path, const char* what);

// Every entry planned and checked, names compared as the updater compares them, with the version
// list this build makes (if any) as the last entry.
bool planEntries(const ChosenEntries& chosen, ArchiveLayout layout, std::vector<PlannedEntry>& entries,
                 std::string& error);

// Header and index of the archive, and the size of the whole patch. Every entry must start where
// the updater can seek, and the patch must stay below 4 GiB.
bool planArchive(const std::vector<PlannedEntry>& entries, ArchiveLayout layout, std::vector<uint8_t>& head,
                 uint64_t& patchSize, std::string& error);
