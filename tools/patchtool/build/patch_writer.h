#pragma once
// Writing a planned patch: the stub, zero padding, header and index, then every entry's bytes, each
// file folded again while it is copied and held to the bytes recorded for it.

#include <cstdint>
#include <string>
#include <vector>

#include "formats/version_list_writer.h"
#include "tools/patchtool/build/archive_plan.h"
#include "tools/patchtool/files.h"

// A generated version list is the last entry; its records, given beforehand or gathered from the
// packed files' check values while they are copied (`gatherRecords`), are written once all of them
// are known. False, with a reason in `error`, when a file cannot be read or no longer holds the
// bytes planned or recorded.
bool writePatch(const std::string& stubPath, uint64_t stubSize, const std::vector<uint8_t>& head,
                const std::vector<PlannedEntry>& entries, std::vector<VersionRecordSource> records, bool gatherRecords,
                PendingFile& patch, std::string& error);
