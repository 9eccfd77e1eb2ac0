#pragma once
// A version list file (TLX.hvl) read with the updater's own reader, with what its header says
// beside the records, for the commands that show or check one.

#include <cstdint>
#include <string>

#include "engine/version_list.h"

struct LoadedVersionList {
    VersionList list;
    uint32_t headerWord = 0;
    uint64_t trailingBytes = 0;  // after the last record; the updater never reads them
};

// False, with the reason, for a file that the updater would take as no list at all: missing or
// unreadable, a short header, an unknown magic, fewer record bytes than the count needs.
bool readVersionListFile(const std::string& path, LoadedVersionList& loaded, std::string& error);

// "v2", "v1", or "none".
const char* versionListLabel(VersionListVersion version);
