#include "engine/update_run.h"

#include <cstring>
#include <memory>
#include <new>

#include "engine/check_value.h"
#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/own_file.h"
#include "engine/payload_archive.h"
#include "engine/target_name.h"
#include "engine/text_join.h"
#include "engine/uninstall_list.h"
#include "engine/version_list.h"

namespace {

// "をインストール中" in code page 932: the file label reads "<target name>をインストール中".
constexpr char labelSuffix[] = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";
constexpr char stagingSuffix[] = ".tmp";
constexpr uint32_t fileBarMaximum = 65535;

// The run's view of its host, with the display steps skipped for absent controls.
struct Display {
    const RunHost& host;
    RunControls controls;

    void text(void* control, const char* value) const {
        if (control != nullptr) host.setText(host.context, control, value);
    }
    void range(void* control, uint32_t low, uint32_t high) const {
        if (control != nullptr) host.setRange(host.context, control, low, high);
    }
    void position(void* control, uint32_t value) const {
        if (control != nullptr) host.setPosition(host.context, control, value);
    }
    // Pumps messages; a pump that reports the quit message or a failure sets the cancel flag.
    // True when the run goes on.
    bool pump() const {
        if (host.pumpMessages(host.context) == 1) {
            host.setCancelFlag(host.context);
            return false;
        }
        return true;
    }
    bool stopRequested() const { return host.cancelFlag(host.context) || host.abortFlag(host.context); }
};

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

// The step at which creating a file of the run's own failed: a name that could not be removed and
// a file outside the folder have steps of their own; any other failure is `otherwise`'s.
RunStep creationStep(OwnFileFailure failure, RunStep otherwise) {
    switch (failure) {
        case OwnFileFailure::Remove:
            return RunStep::Remove;
        case OwnFileFailure::Outside:
            return RunStep::Outside;
        case OwnFileFailure::None:
        case OwnFileFailure::Open:
            break;
    }
    return otherwise;
}

// Records a failed rewrite of a list: under the list's own step, or under the step of its
// temporary file when that could not be made a file of the run's own.
void recordRewriteFailure(UpdateRunReport* report, RunStep step, const char* listName, const char* temporaryName,
                          const RewriteFailure& failure) {
    const RunStep failed = creationStep(failure.temporary, step);
    recordFailure(report, failed, failed == step ? listName : temporaryName, failure.systemError);
}

enum class StepOutcome { Next, Stop };

struct RunState {
    const char* folder;
    const ResolvedFolder& resolvedFolder;  // the install folder as it resolved when the run started
    const Display& display;
    FileHandle& executable;
    const PayloadArchive& archive;
    const VersionList& versions;
    TargetNameList targets;
    const VersionRecord* records[maxArchiveEntries];  // each entry's version record, or null
    uint32_t created;                                 // staging files created, entries 0 .. created - 1
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

// Stages entry i under its target name: copies it into "<folder>\<target>.tmp" while folding its
// bytes into a check value, and verifies the copy. Next when the entry passed.
StepOutcome stageEntry(RunState& run, uint32_t i) {
    const Display& display = run.display;
    const ArchiveEntry entry = run.archive.entry(i);
    const char* target = run.targets[i];
    const VersionRecord* record = run.records[i];
    clearSystemErrorCode();  // a position refused before any call fails none
    // A wrapped position names other bytes.
    if (!run.archive.isEntryReachable(i) || !run.executable.seek(run.archive.dataPosition(i))) {
        return fail(run, RunStep::Read, target, PayloadDamaged, systemErrorCode());
    }

    char stagingPath[runPathBufferSize];
    char label[runPathBufferSize];
    composePath(stagingPath, sizeof stagingPath, run.folder, target, stagingSuffix);  // bounds judged already
    std::strcpy(label, target);
    std::strcat(label, labelSuffix);
    display.text(display.controls.label, label);
    display.position(display.controls.fileBar, 0);
    if (!display.pump()) return StepOutcome::Stop;

    // The staging file is a new file of the run's own: whatever stands at its name (a leftover of
    // an earlier run, or something planted) is removed as a name, never written through.
    FileHandle staging;
    const OwnFileFailure created = createOwnFile(staging, stagingPath, run.resolvedFolder);
    if (created != OwnFileFailure::None) {
        return fail(run, creationStep(created, RunStep::Open), target, FileWriteFailed, systemErrorCode());
    }
    run.created = i + 1;

    CheckValue value;
    value.reset();
    StepOutcome copied = StepOutcome::Next;
    for (uint32_t done = 0; done < entry.size;) {
        if (display.stopRequested()) break;
        const uint32_t length = entry.size - done < runChunkSize ? entry.size - done : runChunkSize;
        clearSystemErrorCode();  // a read or write that comes back short may fail no call
        if (run.executable.read(run.chunk, length) < length) {
            copied = fail(run, RunStep::Read, target, PayloadDamaged, systemErrorCode());
            break;
        }
        value.update(run.chunk, length);
        clearSystemErrorCode();
        if (staging.write(run.chunk, length) < length) {
            copied = fail(run, RunStep::Write, target, FileWriteFailed, systemErrorCode());
            break;
        }
        done += length;
        display.position(display.controls.fileBar,
                         static_cast<uint32_t>(static_cast<uint64_t>(done) * fileBarMaximum / entry.size));
        if (!display.pump()) break;
    }
    staging.close();

    if (copied == StepOutcome::Stop || display.stopRequested()) return StepOutcome::Stop;
    if (record != nullptr && std::memcmp(value.bytes(), record->checkValue, sizeof record->checkValue) != 0) {
        return fail(run, RunStep::Verify, target, PayloadDamaged, 0);
    }
    display.position(display.controls.overallBar, i + 1);
    return display.pump() ? StepOutcome::Next : StepOutcome::Stop;
}

// True when every target can be replaced by a move, which the run finds out before the first one so
// that no target is replaced when one cannot be: a folder, or a read-only file other names share
// (its attribute, shared by every name, must not be cleared), fails. Records the first that cannot.
bool canReplaceTargets(const char* folder, const TargetNameList targets, uint32_t count, UpdateRunReport* report) {
    for (uint32_t i = 0; i < count; ++i) {
        char targetPath[runPathBufferSize];
        composePath(targetPath, sizeof targetPath, folder, targets[i], "");
        NameState state{};
        if (!inspectName(targetPath, state)) continue;  // the move tells
        if (state.kind == NameKind::Folder || (state.kind == NameKind::HardLinked && state.readOnly)) {
            recordFailure(report, RunStep::Move, targets[i],
                          refusalCode(state.kind == NameKind::Folder ? Refusal::Folder : Refusal::AccessDenied));
            return false;
        }
    }
    return true;
}

// Moves every staging file over its target in index order; stops at the first failed move, which it
// records, and moves nothing back. A target is replaced as a name: a link there is replaced itself,
// and only a plain file of its own loses a read-only attribute first.
bool commitEntries(const char* folder, const TargetNameList targets, uint32_t count, UpdateRunReport* report) {
    if (!canReplaceTargets(folder, targets, count, report)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        char stagingPath[runPathBufferSize];
        char targetPath[runPathBufferSize];
        composePath(stagingPath, sizeof stagingPath, folder, targets[i], stagingSuffix);
        composePath(targetPath, sizeof targetPath, folder, targets[i], "");
        resetFileAttributes(targetPath);
        if (!moveReplacing(stagingPath, targetPath)) {
            recordFailure(report, RunStep::Move, targets[i], systemErrorCode());
            return false;
        }
        if (report != nullptr) std::strcpy(report->installed[report->installedCount++], targets[i]);
    }
    return true;
}

// Removes the staging file of every entry whose staging file this run created; after a complete
// commit each name is free already. A name is removed as a name, never through a link.
void removeStagingFiles(const char* folder, const TargetNameList targets, uint32_t created) {
    for (uint32_t i = 0; i < created; ++i) {
        char stagingPath[runPathBufferSize];
        if (composePath(stagingPath, sizeof stagingPath, folder, targets[i], stagingSuffix)) clearName(stagingPath);
    }
}

// Prunes the version list and merges the uninstall list after a complete commit; the result of the
// merge. A failed merge is recorded rather than a failed pruning, which leaves the result as it is.
UpdateResult updateLists(const char* folder, const ResolvedFolder& resolvedFolder, TargetNameList targets,
                         UpdateRunReport* report) {
    RewriteFailure pruning, merging;
    const bool pruned = VersionList::pruneInstalled(folder, &resolvedFolder, &pruning);
    if (!mergeUninstallList(folder, targets, &resolvedFolder, &merging)) {
        recordRewriteFailure(report, RunStep::Merge, uninstallListName, uninstallListTemporaryName, merging);
        return UninstallListFailed;
    }
    if (!pruned) recordRewriteFailure(report, RunStep::Prune, versionListName, versionListPruneName, pruning);
    return Ok;
}

// Set-up to clean-up once the archive is open; returns the result before the stop flags are applied.
UpdateResult runOpenedArchive(const char* folder, const Display& display, FileHandle& executable,
                              const PayloadArchive& archive, UpdateRunReport* report) {
    UpdateResult result = PayloadDamaged;
    const uint32_t count = archive.entryCount();
    std::unique_ptr<const char*[]> targets(new (std::nothrow) const char*[count + 1]());
    if (!targets) {
        recordFailure(report, RunStep::Memory, "", 0);
        return FileWriteFailed;
    }
    ResolvedFolder resolvedFolder;
    resolveFolder(folder, resolvedFolder);

    VersionList versions;
    if (const auto listIndex = findVersionListEntry(archive)) versions.loadFromArchive(executable, archive, *listIndex);
    RunState run{folder, resolvedFolder, display, executable, archive, versions, targets.get(), {},
                 0,      nullptr,        result,  report};
    if (resolveTargets(run) == StepOutcome::Stop) return result;

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

    if (staged == count && !display.stopRequested()) {
        result = commitEntries(folder, targets.get(), count, report)
                     ? updateLists(folder, resolvedFolder, targets.get(), report)
                     : FileWriteFailed;
    }
    removeStagingFiles(folder, targets.get(), run.created);
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
    if (result == Ok) result = runOpenedArchive(installFolder, display, executable, archive, report);
    executable.close();
    if (host.cancelFlag(host.context)) result = Cancelled;
    if (host.abortFlag(host.context)) result = Aborted;
    return result;
}

UpdateResult runUpdate(const char* installFolder, const RunHost& host) {
    char ownPath[runPathBufferSize] = "setup.exe";
    ownExecutablePath(ownPath, sizeof ownPath);  // on failure "setup.exe" in the current folder
    return runUpdateFromPatch(ownPath, installFolder, host);
}
