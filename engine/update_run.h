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
inline constexpr char stagingSuffix[] = ".tmp";
// Entries are copied through one buffer of this size. The fuzz build makes it small, so that short
// inputs reach the copy loop's later chunks and its stop checks between them.
#ifndef VENNHOLT_RUN_CHUNK_SIZE
#define VENNHOLT_RUN_CHUNK_SIZE (1u << 20)
#endif
inline constexpr uint32_t runChunkSize = VENNHOLT_RUN_CHUNK_SIZE;

// The step of the run at which it failed.
enum class RunStep : uint8_t {
    None,
    Name,
    Path,
    Open,
    Read,
    Write,
    Verify,
    Move,
    Prune,
    Merge,
    Memory,
    Count,
    Remove,
    Outside,
    Flush
};
struct RunStepText {
    const char* name;    // as tools show it
    const char* reason;  // why the step failed, for a failure in which no system call failed
};
inline constexpr RunStepText runStepTexts[] = {
    {"", ""},
    {"name", "a name the updater refuses, or one file for two entries"},
    {"path", "the path would pass the 259 bytes Windows allows"},
    {"open", "failed"},
    {"read", "the patch ends before its data does"},
    {"write", "the disk took only part of it"},
    {"verify", "the copy differs from its version record"},
    {"move", "failed"},
    {"prune", "failed"},
    {"merge", "failed"},
    {"memory", "out of memory"},
    {"count", "the patch holds more entries than the updater installs (32)"},
    {"remove", "something that stands at the name could not be removed"},
    {"outside", "a folder on its way is a link or junction that leads out of the game folder"},
    {"flush", "the disk did not take the file whole"},
};
static_assert(sizeof runStepTexts / sizeof *runStepTexts == static_cast<unsigned>(RunStep::Flush) + 1);
inline constexpr const char* runStepName(RunStep step) { return runStepTexts[static_cast<int>(step)].name; }

// What a run did besides its result, for callers that report it. Plain storage, so that the run
// allocates nothing for it: a patch has at most 32 entries and each target path fits the path buffer.
//
// The run's first failure is recorded, and no later one (a failed clean-up) replaces it; a stop
// records nothing. A failed merge, which decides the result, is recorded rather than a failed
// pruning, which does not. The steps, with the result each gives:
//   Count   the payload holds more than 32 entries: TooManyEntries
//   Read    the payload cannot be opened or its index read (no name), or an entry is unreachable or
//           reads short: PayloadDamaged
//   Name    a target name is refused, or shares a file with another entry's: PayloadDamaged
//   Path    a path would not fit the path buffer: FileWriteFailed
//           (names and paths of every entry are judged before the first staging file is created)
//   Verify  a staged copy differs from its version record: PayloadDamaged
//   Outside a folder on the way to an entry's target is a link or junction, or leads elsewhere
//           without showing as one: FileWriteFailed (found when the folders are opened, before
//           anything is written)
//   Open, Write  a staging file cannot be created (a folder stands at its name, or its folder is
//           missing), or a write to it falls short: FileWriteFailed
//   Remove  something stands at a staging name, or at a list's temporary name, that could not or
//           must not be removed (a read-only file other names share, a name that leads elsewhere)
//           Open and Remove give FileWriteFailed for a staging file; for a list's temporary file
//           they name that file and give the list's result
//   Flush   a staging file could not be flushed to the disk, found before the first move:
//           FileWriteFailed; for a list's temporary file, that file is named and the list's result given
//   Move    a staging file cannot be moved over its target, or a target could not be replaced at all
//           (a folder, a junction, a read-only file other names share, a file another program still
//           holds after the run waited for it), found before the first move: FileWriteFailed
//   Memory  an allocation of the run fails (no name): FileWriteFailed
//   Prune   an existing TLX.hvl is read-only, a link or a file other names share, or reading or
//           rewriting it fails: the result stays Ok, as the files are installed
//   Merge   uninst.lst cannot be merged (missing, a link, a file other names share, read-only, ...):
//           UninstallListFailed
struct UpdateRunReport {
    uint32_t installedCount = 0;
    char installed[maxArchiveEntries][runPathBufferSize] = {};  // target names moved over their targets, in index order
    RunStep failedStep = RunStep::None;
    // The entry's target name, "TLX.hvl" or "uninst.lst", or the temporary file's name; empty for a
    // failure of the whole payload or of memory.
    char failedName[runPathBufferSize] = {};
    // errno on POSIX, GetLastError() on Windows, of the call that failed; 0 when no system call failed.
    uint32_t systemError = 0;
};

// The run on the updater's own executable, whose payload begins at 0x60000.
UpdateResult runUpdate(const char* installFolder, const RunHost& host);

// The same run on a patch file given by path: for patchtool and the tests.
UpdateResult runUpdateFromPatch(const char* patchPath, const char* installFolder, const RunHost& host,
                                UpdateRunReport* report = nullptr);
