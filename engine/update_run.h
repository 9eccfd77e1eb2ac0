#pragma once
// The update run: copies every payload entry into the install folder under a staging name while
// folding its bytes into a check value, verifies each copy against its version record, and only
// when every entry has been staged and has passed moves all staging files over their targets. It
// then prunes the installed version list, merges the installed names into the uninstall list and
// deletes whatever staging files remain.
//
// Until the commit begins, nothing in the install folder changes except the run's own staging
// files: a stop, a damaged payload or a failed write during staging leaves the game as it was.

#include <cstdint>

#include "engine/payload_archive.h"
#include "engine/run_host.h"
#include "engine/update_result.h"

// Count + 1 pointers to the names under which the entries are installed; the last one is null.
using TargetNameList = const char**;

// Staging files are "<folder>\<target>.tmp", targets "<folder>\<target>"; paths and the label text
// are composed in buffers of this size.
inline constexpr uint32_t runPathBufferSize = 260;
// Entries are copied through one buffer of this size. The fuzz build makes it small, so that short
// inputs reach the copy loop's later chunks and its stop checks between them.
#ifndef VENNHOLT_RUN_CHUNK_SIZE
#define VENNHOLT_RUN_CHUNK_SIZE (1u << 20)
#endif
inline constexpr uint32_t runChunkSize = VENNHOLT_RUN_CHUNK_SIZE;

// What a run did besides its result, for callers that report it. Plain storage, so that the run
// allocates nothing for it: a patch has at most 32 entries and each target path fits the path buffer.
struct UpdateRunReport {
    uint32_t installedCount = 0;
    char installed[maxArchiveEntries][runPathBufferSize] = {};  // target names moved over their targets, in index order
};

// The run on the updater's own executable, whose payload begins at 0x60000.
UpdateResult runUpdate(const char* installFolder, const RunHost& host);

// The same run on a patch file given by path: for patchtool and the tests.
UpdateResult runUpdateFromPatch(const char* patchPath, const char* installFolder, const RunHost& host,
                                UpdateRunReport* report = nullptr);
