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
// records nothing. Read: the payload cannot be opened or read, or an entry is unreachable or comes
// up short (PayloadDamaged). Name: a target name is refused or shares a file with another
// (PayloadDamaged). Path: a path would not fit the path buffer. Open, Write: a staging file cannot
// be created or written. Verify: a staged copy differs from its version record (PayloadDamaged).
// Move: a staging file cannot be moved over its target during the commit. Memory: an allocation of
// the run failed. Merge: the uninstall list could not be merged (UninstallListFailed). Prune: an
// existing TLX.hvl could not be rewritten; the result stays Ok, and a failed merge replaces it.
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
