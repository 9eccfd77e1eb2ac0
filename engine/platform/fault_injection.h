#pragma once
// Fault injection for test builds: the platform backends ask, before each open of a file or a
// folder, read, write, seek, move, flush, look at a final path or check whether a target can be
// replaced, whether that operation is to fail or come back short, and a test may have something
// happen right before one (another program swapping a folder for a link, say). They also report each
// change they made to the file system, so that a test can replay a run up to any moment. Only the
// engine library built for the tests defines VENNHOLT_FAULT_INJECTION; in the shipping build none of
// this exists.

#include <cstdint>

enum class FaultOperation : uint8_t { Open, Read, Write, Seek, Move, Folder, FinalPath, Flush, Probe, Count };
// Fail gives the code of a failing disk; Held and Denied those of a file another program holds open
// (a sharing violation, or access denied).
enum class FaultEffect : uint8_t { None, Fail, Short, Held, Denied };

// A change a backend made to the file system: a folder opened (`file` the new folder's handle,
// `folder` its parent's, or -1 for one opened by its path), a file created as `name` in `folder`,
// bytes written to or flushed from `file`, `file` renamed to `name` in `folder`, a name removed (of
// `file`, or `name` in `folder`), or a name's attributes reset.
enum class FileChange : uint8_t { Folder, Create, Write, Flush, Rename, Remove, Attributes };
struct FileChangeRecord {
    FileChange change;
    intptr_t file;
    intptr_t folder;
    const char* name;
    const void* bytes = nullptr;
    uint32_t count = 0;
};

#ifdef VENNHOLT_FAULT_INJECTION
// Makes the nth (1-based) operation of that kind, counted from now, and the `times` - 1 after it,
// have `effect`; a Short transfer moves half of what was asked (0 bytes for a request of 1). Resets
// every counter and takes back an action. An operation that fails leaves the system's error code of
// an injected fault.
void injectFault(FaultOperation operation, uint32_t nth, FaultEffect effect, uint32_t times = 1);
// Calls `action` right before the nth operation of that kind, counted from now, is made. Resets
// every counter and takes back a fault.
void actBeforeOperation(FaultOperation operation, uint32_t nth, void (*action)(void* context), void* context);
// No more faults and no action; counting goes on.
void clearFaults();
// Operations of that kind since the last injectFault, actBeforeOperation or resetFaultCounters.
uint32_t faultOperationCount(FaultOperation operation);
void resetFaultCounters();
// Called by the backends: counts the operation and tells what is to happen to it.
FaultEffect nextFaultEffect(FaultOperation operation);
#define VENNHOLT_FAULT_EFFECT(operation) nextFaultEffect(FaultOperation::operation)
// Has `watcher` called with every change the backends make from now on; nullptr stops it.
void watchFileChanges(void (*watcher)(const FileChangeRecord& change, void* context), void* context);
// Called by the backends after each change they made.
void reportFileChange(const FileChangeRecord& change);
#define VENNHOLT_FILE_CHANGED(...) reportFileChange(FileChangeRecord{__VA_ARGS__})
#else
#define VENNHOLT_FAULT_EFFECT(operation) FaultEffect::None
#define VENNHOLT_FILE_CHANGED(...) static_cast<void>(0)
#endif

// For a transfer of `count` bytes: false when the operation is to fail, otherwise true with
// `count` halved when it is to come back short.
inline bool applyFault(FaultEffect effect, uint32_t& count) {
    if (effect == FaultEffect::Short) count /= 2;
    return effect == FaultEffect::None || effect == FaultEffect::Short;
}
