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

// The step of the run at which it failed.
enum class RunStep : uint8_t { None, Name, Path, Open, Read, Write, Verify, Move, Prune, Merge, Memory };
inline constexpr const char* runStepNames[] = {"",       "name", "path",  "open",  "read",  "write",
                                               "verify", "move", "prune", "merge", "memory"};

// What a run did besides its result, for callers that report it. Plain storage, so that the run
// allocates nothing for it: a patch has at most 32 entries and each target path fits the path buffer.
//
// The run's first failure is recorded, and no later one (a failed clean-up) replaces it; a stop
// records nothing. The steps, with the result each gives:
//   Read    the payload cannot be opened or its index read (no name; TooManyEntries for more than
//           32 entries), or an entry is unreachable or reads short: PayloadDamaged
//   Name    a target name is refused, or shares a file with another entry's: PayloadDamaged
//   Verify  a staged copy differs from its version record: PayloadDamaged
//   Path    a path would not fit the path buffer: FileWriteFailed
//   Open, Write  a staging file cannot be created, or a write to it falls short: FileWriteFailed
//   Move    a staging file cannot be moved over its target during the commit: FileWriteFailed
//   Memory  an allocation of the run fails (no name): FileWriteFailed
//   Prune   an existing TLX.hvl is read-only, or reading or rewriting it fails: the result stays
//           Ok, as the files are installed
//   Merge   uninst.lst cannot be merged: UninstallListFailed; it takes the place of a failed pruning
struct UpdateRunReport {
    uint32_t installedCount = 0;
    char installed[maxArchiveEntries][runPathBufferSize] = {};  // target names moved over their targets, in index order
    RunStep failedStep = RunStep::None;
    // The entry's target name (its index name while it has none yet), "TLX.hvl" or "uninst.lst";
    // empty for a failure of the whole payload or of memory.
    char failedName[runPathBufferSize] = {};
    // errno on POSIX, GetLastError() on Windows, of the call that failed; 0 when no system call failed.
    uint32_t systemError = 0;
};

// The run on the updater's own executable, whose payload begins at 0x60000.
UpdateResult runUpdate(const char* installFolder, const RunHost& host);

// The same run on a patch file given by path: for patchtool and the tests.
UpdateResult runUpdateFromPatch(const char* patchPath, const char* installFolder, const RunHost& host,
                                UpdateRunReport* report = nullptr);
