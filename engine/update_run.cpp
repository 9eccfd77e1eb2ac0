#include "engine/update_run.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/check_value.h"
#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/folder_walk.h"
#include "engine/hold_wait.h"
#include "engine/list_rewrite.h"
#include "engine/own_file.h"
#include "engine/payload_archive.h"
#include "engine/run_display.h"
#include "engine/target_name.h"
#include "engine/text_join.h"
#include "engine/uninstall_list.h"
#include "engine/version_list.h"

namespace {

// "をインストール中" in code page 932: the file label reads "<target name>をインストール中".
constexpr char labelSuffix[] = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";
constexpr uint32_t fileBarMaximum = 65535;

// True when `name` would share a file with an earlier entry or with the pruning's or the merge's
// temporary file: folded, it equals an earlier target, one of the two is the other's staging name
// ("<name>.tmp"), or it is one of those temporary names. An entry that shared a file would be
// overwritten by another one, or deleted by a later step, after the run had counted it as installed.
bool collidesWithOtherFile(const char* name, const TargetNameList targets, uint32_t before) {
    char folded[runPathBufferSize];
    char foldedStaging[runPathBufferSize];
    if (!foldTargetName(folded, sizeof folded, name, "") ||
        !foldTargetName(foldedStaging, sizeof foldedStaging, name, stagingSuffix)) {
        return false;  // fits no path
    }
    char other[runPathBufferSize];
    for (const char* temporary : {versionListPruneName, uninstallListTemporaryName}) {
        if (foldTargetName(other, sizeof other, temporary, "") && std::strcmp(other, folded) == 0) return true;
    }
    for (uint32_t j = 0; j < before; ++j) {
        if (targets[j] == nullptr) continue;
        if (foldTargetName(other, sizeof other, targets[j], "") &&
            (std::strcmp(other, folded) == 0 || std::strcmp(other, foldedStaging) == 0)) {
            return true;
        }
        if (foldTargetName(other, sizeof other, targets[j], stagingSuffix) && std::strcmp(other, folded) == 0) {
            return true;
        }
    }
    return false;
}

// Records a failure in the report, when there is one, unless an earlier failure is recorded.
void recordFailure(UpdateRunReport* report, RunStep step, const char* name, uint32_t systemError) {
    if (report == nullptr || report->failedStep != RunStep::None) return;
    report->failedStep = step;
    joinText(report->failedName, sizeof report->failedName, {name});  // every name fits the path buffer
    report->systemError = systemError;
}

// The step at which making a file of the run's own failed.
RunStep creationStep(OwnFileFailure failure) {
    return failure == OwnFileFailure::Remove  ? RunStep::Remove
           : failure == OwnFileFailure::Flush ? RunStep::Flush
                                              : RunStep::Open;
}

// Records a failed rewrite of a list: under the list's own step, or under the step of its
// temporary file when that is where it failed.
void recordRewriteFailure(UpdateRunReport* report, RunStep step, const char* listName, const char* temporaryName,
                          const RewriteFailure& failure) {
    if (failure.temporary == OwnFileFailure::None) {
        recordFailure(report, step, listName, failure.systemError);
    } else {
        recordFailure(report, creationStep(failure.temporary), temporaryName, failure.systemError);
    }
}

enum class StepOutcome { Next, Stop };

// Where an entry's files are: the folder that holds its target, opened when the run started, and the
// target's last component, under which the entry is staged and moved in that folder.
struct EntryPlace {
    const FolderHandle* folder;  // null when the folder could not be opened: the entry fails at its turn
    uint32_t folderError;        // then the system's code
    const char* name;            // points into the target name
};

struct RunState {
    const char* folder;
    const Display& display;
    FileHandle& executable;
    const PayloadArchive& archive;
    const VersionList& versions;
    TargetNameList targets;
    const VersionRecord* records[maxArchiveEntries];  // each entry's version record, or null
    // The install folder at 0, opened once when the run starts, and at i + 1 the subfolder that
    // holds entry i's target, when no earlier entry's is the same.
    FolderHandle folders[maxArchiveEntries + 1];
    uint32_t installFolderError;  // the system's code when the install folder could not be opened
    EntryPlace places[maxArchiveEntries];
    // Each entry's staging file, held open from its creation to its move, so that no other program
    // opens it meanwhile and nothing put at its name is ever taken for it.
    FileHandle staging[maxArchiveEntries];
    HoldWait holdWait;  // how long the run has waited for targets other programs hold
    uint8_t* chunk;
    UpdateResult& result;
    UpdateRunReport* report;
};

// Ends the run's staging with `result`, recording the step, the entry's name and the system's code.
StepOutcome fail(RunState& run, RunStep step, const char* name, UpdateResult result, uint32_t systemError) {
    run.result = result;
    recordFailure(run.report, step, name, systemError);
    return StepOutcome::Stop;
}

// "<name>.tmp": the staging name of a target's last component. Every staging path was judged to fit
// the path buffer before anything was written, so its last component does too.
void stagingName(char (&name)[runPathBufferSize], const EntryPlace& place) {
    joinText(name, sizeof name, {place.name, stagingSuffix});
}

// Resolves every entry's target name and judges it, with every collision and path bound, before
// anything is written: a payload refused here has staged nothing, not even its first entries.
StepOutcome resolveTargets(RunState& run) {
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        const ArchiveEntry entry = run.archive.entry(i);
        char lowered[runPathBufferSize];
        std::strcpy(lowered, entry.name);  // index names are at most 96 bytes
        lowerCaseName(lowered);
        run.records[i] = run.versions.findRecord(lowered);
        const char* target = run.records[i] != nullptr ? run.records[i]->name : entry.name;

        // A damaged payload must not write outside the install folder, nor put two files into one.
        if (!isSafeTargetName(target) || collidesWithOtherFile(target, run.targets, i)) {
            return fail(run, RunStep::Name, target, PayloadDamaged, 0);
        }
        char path[runPathBufferSize];
        if (!composePath(path, sizeof path, run.folder, target, stagingSuffix) ||
            std::strlen(target) + sizeof labelSuffix > runPathBufferSize) {
            return fail(run, RunStep::Path, target, FileWriteFailed, 0);
        }
        run.targets[i] = target;
    }
    return StepOutcome::Next;
}

// True when the folder parts of two targets name one folder, as Windows compares names.
bool sameFolder(const char* target, const EntryPlace& place, const char* other, const EntryPlace& otherPlace) {
    const auto length = static_cast<uint32_t>(place.name - target);
    char folded[runPathBufferSize], otherFolded[runPathBufferSize];
    return length == static_cast<uint32_t>(otherPlace.name - other) &&
           foldTargetName(folded, sizeof folded, target, "") &&
           foldTargetName(otherFolded, sizeof otherFolded, other, "") && std::memcmp(folded, otherFolded, length) == 0;
}

// Opens the install folder once, and the folder of every entry's target below it, before anything is
// written. A folder on the way that is a link or junction fails the run here, with nothing staged
// and nothing outside touched; one that cannot be opened (it is missing) fails its entry at its turn.
StepOutcome openFolders(RunState& run) {
    clearSystemErrorCode();
    if (!openFolder(run.folders[0], run.folder)) run.installFolderError = systemErrorCode();
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        const char* target = run.targets[i];
        EntryPlace& place = run.places[i];
        place = {run.folders[0].isOpen() ? &run.folders[0] : nullptr, run.installFolderError, lastComponent(target)};
        if (place.folder == nullptr) continue;
        if (place.name == target) continue;  // in the install folder itself
        const uint32_t earlier = [&] {
            for (uint32_t j = 0; j < i; ++j) {
                if (sameFolder(target, place, run.targets[j], run.places[j])) return j;
            }
            return i;
        }();
        if (earlier < i) {
            place.folder = run.places[earlier].folder;
            place.folderError = run.places[earlier].folderError;
            continue;
        }
        clearSystemErrorCode();
        const char* stopped = nullptr;
        switch (openFolderPart(run.folders[0], target, run.folders[i + 1], stopped)) {
            case SubfolderOpening::Opened:
                place.folder = &run.folders[i + 1];
                break;
            case SubfolderOpening::Failed:
                place = {nullptr, systemErrorCode(), place.name};
                break;
            case SubfolderOpening::LeadsOut:
                return fail(run, RunStep::Outside, target, FileWriteFailed, systemErrorCode());
        }
    }
    return StepOutcome::Next;
}

// Stages entry i under its target name: copies it into "<target>.tmp" in the target's folder while
// folding its bytes into a check value, and verifies the copy. The staging file stays open. Next
// when the entry passed.
StepOutcome stageEntry(RunState& run, uint32_t i) {
    const Display& display = run.display;
    const ArchiveEntry entry = run.archive.entry(i);
    const char* target = run.targets[i];
    const EntryPlace& place = run.places[i];
    const VersionRecord* record = run.records[i];
    clearSystemErrorCode();  // a position refused before any call fails none
    // A wrapped position names other bytes.
    if (!run.archive.isEntryReachable(i) || !run.executable.seek(run.archive.dataPosition(i))) {
        return fail(run, RunStep::Read, target, PayloadDamaged, systemErrorCode());
    }

    char label[runPathBufferSize];
    std::strcpy(label, target);  // bounds judged already
    std::strcat(label, labelSuffix);
    display.text(display.controls.label, label);
    display.position(display.controls.fileBar, 0);
    if (!display.pump()) return StepOutcome::Stop;

    // The staging file is a new file of the run's own: whatever stands at its name (a leftover of
    // an earlier run, or something planted) is removed as a name, never written through.
    if (place.folder == nullptr) return fail(run, RunStep::Open, target, FileWriteFailed, place.folderError);
    FileHandle& staging = run.staging[i];
    char name[runPathBufferSize];
    stagingName(name, place);
    const OwnFileFailure created = createOwnFile(staging, *place.folder, name);
    if (created != OwnFileFailure::None) {
        return fail(run, creationStep(created), target, FileWriteFailed, systemErrorCode());
    }

    CheckValue value;
    value.reset();
    for (uint32_t done = 0; done < entry.size;) {
        if (display.stopRequested()) return StepOutcome::Stop;
        const uint32_t length = entry.size - done < runChunkSize ? entry.size - done : runChunkSize;
        clearSystemErrorCode();  // a read or write that comes back short may fail no call
        if (run.executable.read(run.chunk, length) < length) {
            return fail(run, RunStep::Read, target, PayloadDamaged, systemErrorCode());
        }
        value.update(run.chunk, length);
        clearSystemErrorCode();
        if (staging.write(run.chunk, length) < length) {
            return fail(run, RunStep::Write, target, FileWriteFailed, systemErrorCode());
        }
        startWriteBack(staging, done, length);
        done += length;
        display.position(display.controls.fileBar,
                         static_cast<uint32_t>(static_cast<uint64_t>(done) * fileBarMaximum / entry.size));
        if (!display.pump()) return StepOutcome::Stop;
    }

    if (display.stopRequested()) return StepOutcome::Stop;
    if (record != nullptr && std::memcmp(value.bytes(), record->checkValue, sizeof record->checkValue) != 0) {
        return fail(run, RunStep::Verify, target, PayloadDamaged, 0);
    }
    display.position(display.controls.overallBar, i + 1);
    return display.pump() ? StepOutcome::Next : StepOutcome::Stop;
}

// Flushes every staging file to the disk, once the last one is written, so that the run waits for
// the disk once and no target is replaced by a file that a power cut could still take back.
StepOutcome flushStagedFiles(RunState& run) {
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        clearSystemErrorCode();
        if (!flushFile(run.staging[i]))
            return fail(run, RunStep::Flush, run.targets[i], FileWriteFailed, systemErrorCode());
    }
    return StepOutcome::Next;
}

// Makes sure before the first move that every target can be replaced, so that no target is replaced
// when one cannot be: a folder, a link that stands as a folder, or a read-only file other names share
// (its attribute, shared by every name, must not be cleared) fails, and so does a target that another
// program still holds once the run has waited for it. Stop, recording the failure, or with nothing
// recorded when a stop was asked for while the run waited.
StepOutcome checkTargets(RunState& run) {
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        const EntryPlace& place = run.places[i];
        NameState state{};
        if (inspectName(*place.folder, place.name, state)) {
            const bool folder = state.kind == NameKind::Folder || state.kind == NameKind::LinkedFolder;
            if (folder || (state.kind == NameKind::HardLinked && state.readOnly)) {
                return fail(run, RunStep::Move, run.targets[i], FileWriteFailed,
                            refusalCode(folder ? Refusal::Folder : Refusal::AccessDenied));
            }
        }
        while (!canReplaceNow(*place.folder, place.name)) {
            const uint32_t code = systemErrorCode();
            if (!isHeldTarget(*place.folder, place.name, code)) break;  // the move tells
            switch (pauseForHold(run.holdWait, run.display, true)) {
                case HoldPause::Paused:
                    continue;
                case HoldPause::Stopped:
                    return StepOutcome::Stop;
                case HoldPause::Spent:
                    return fail(run, RunStep::Move, run.targets[i], FileWriteFailed, code);
            }
        }
    }
    return StepOutcome::Next;
}

// Moves the staging file of entry i over its target, through the handle it was written with, waiting
// for a target that another program has begun to hold since the check. The commit is not stopped.
bool moveEntry(RunState& run, uint32_t i) {
    const EntryPlace& place = run.places[i];
    char name[runPathBufferSize];
    stagingName(name, place);
    resetFileAttributes(*place.folder, place.name);
    while (!moveOpenFile(run.staging[i], *place.folder, name, place.name)) {
        const uint32_t code = systemErrorCode();
        if (!isHeldTarget(*place.folder, place.name, code) ||
            pauseForHold(run.holdWait, run.display, false) != HoldPause::Paused) {
            recordFailure(run.report, RunStep::Move, run.targets[i], code);
            return false;
        }
    }
    return true;
}

// Moves every staging file over its target in index order; stops at the first failed move, which it
// records, and moves nothing back. A target is replaced as a name: a link there is replaced itself,
// and only a plain file of its own loses a read-only attribute first.
bool commitEntries(RunState& run) {
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        if (!moveEntry(run, i)) return false;
        if (run.report != nullptr) std::strcpy(run.report->installed[run.report->installedCount++], run.targets[i]);
    }
    return true;
}

// Deletes, through its own handle, every staging file this run created and did not move.
void removeStagingFiles(RunState& run) {
    for (uint32_t i = 0; i < run.archive.entryCount(); ++i) {
        if (!run.staging[i].isOpen()) continue;
        char name[runPathBufferSize];
        stagingName(name, run.places[i]);
        deleteOpenFile(run.staging[i], *run.places[i].folder, name);
    }
}

// Prunes the version list and merges the uninstall list after a complete commit; the result of the
// merge. A failed merge is recorded rather than a failed pruning, which leaves the result as it is.
UpdateResult updateLists(const RunState& run) {
    const FolderHandle& installFolder = run.folders[0];
    if (!installFolder.isOpen()) {  // a payload without entries, for a folder that is not there
        recordFailure(run.report, RunStep::Merge, uninstallListName, run.installFolderError);
        return UninstallListFailed;
    }
    RewriteFailure pruning, merging;
    const bool pruned = VersionList::pruneInstalled(installFolder, &pruning);
    if (!mergeUninstallList(installFolder, run.targets, &merging)) {
        recordRewriteFailure(run.report, RunStep::Merge, uninstallListName, uninstallListTemporaryName, merging);
        return UninstallListFailed;
    }
    if (!pruned) recordRewriteFailure(run.report, RunStep::Prune, versionListName, versionListPruneName, pruning);
    return Ok;
}

// Set-up to clean-up once the archive is open; returns the result before the stop flags are applied.
// `committed` tells whether the moves began, after which nothing stops the run.
UpdateResult runOpenedArchive(const char* folder, const Display& display, FileHandle& executable,
                              const PayloadArchive& archive, UpdateRunReport* report, bool& committed) {
    UpdateResult result = PayloadDamaged;
    const uint32_t count = archive.entryCount();
    std::unique_ptr<const char*[]> targets(new (std::nothrow) const char*[count + 1]());
    if (!targets) {
        recordFailure(report, RunStep::Memory, "", 0);
        return FileWriteFailed;
    }
    VersionList versions;
    if (const auto listIndex = findVersionListEntry(archive)) versions.loadFromArchive(executable, archive, *listIndex);
    RunState run{folder, display, executable, archive, versions, targets.get(), {},    {},
                 0,      {},      {},         {},      nullptr,  result,        report};
    if (resolveTargets(run) == StepOutcome::Stop || openFolders(run) == StepOutcome::Stop) return result;

    display.range(display.controls.fileBar, 0, fileBarMaximum);
    display.position(display.controls.fileBar, 0);
    display.range(display.controls.overallBar, 0, count);
    display.position(display.controls.overallBar, 0);
    display.pump();

    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[runChunkSize]);
    if (!chunk) {
        recordFailure(report, RunStep::Memory, "", 0);
        return FileWriteFailed;  // nothing staged yet
    }
    run.chunk = chunk.get();
    uint32_t staged = 0;
    while (staged < count && !display.stopRequested() && stageEntry(run, staged) == StepOutcome::Next) ++staged;
    chunk.reset();

    if (staged == count && !display.stopRequested() && flushStagedFiles(run) == StepOutcome::Next &&
        checkTargets(run) == StepOutcome::Next) {
        committed = true;
        result = commitEntries(run) ? updateLists(run) : FileWriteFailed;
        // The renames, on the disk before the run reports them.
        for (const FolderHandle& folder : run.folders) {
            if (folder.isOpen()) flushFolder(folder);
        }
    }
    removeStagingFiles(run);
    return result;
}

}  // namespace

UpdateResult runUpdateFromPatch(const char* patchPath, const char* installFolder, const RunHost& host,
                                UpdateRunReport* report) {
    const Display display{host, host.takeControls(host.context)};
    FileHandle executable;
    // A failed open shows as a damaged payload; the archive makes no call on a closed handle, and
    // a payload too short or too large fails no call, so the code is the open's or a read's.
    clearSystemErrorCode();
    executable.openRead(patchPath);
    PayloadArchive archive;
    UpdateResult result = archive.open(executable);
    if (result != Ok) {
        const RunStep step = result == TooManyEntries    ? RunStep::Count
                             : result == FileWriteFailed ? RunStep::Memory
                                                         : RunStep::Read;
        recordFailure(report, step, "", result == PayloadDamaged ? systemErrorCode() : 0);
    }
    bool committed = false;
    if (result == Ok) result = runOpenedArchive(installFolder, display, executable, archive, report, committed);
    executable.close();
    // A stop asked for once the moves began (while a move waited for a held file) did not stop them:
    // the result tells what the run did, not that it was stopped.
    if (!committed && host.cancelFlag(host.context)) result = Cancelled;
    if (!committed && host.abortFlag(host.context)) result = Aborted;
    return result;
}

UpdateResult runUpdate(const char* installFolder, const RunHost& host) {
    char ownPath[runPathBufferSize] = "setup.exe";
    ownExecutablePath(ownPath, sizeof ownPath);  // on failure "setup.exe" in the current folder
    return runUpdateFromPatch(ownPath, installFolder, host);
}
