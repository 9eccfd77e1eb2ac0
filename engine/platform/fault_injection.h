#pragma once
// Fault injection for test builds: the platform backends ask, before each open of a file or a
// folder, read, write, seek, move, or look at a final path, whether that operation is to fail or
// come back short, and a test may have something happen right before one (another program swapping
// a folder for a link, say). Only the engine library built for the tests defines
// VENNHOLT_FAULT_INJECTION; in the shipping build these checks do not exist.

#include <cstdint>

enum class FaultOperation : uint8_t { Open, Read, Write, Seek, Move, Folder, FinalPath, Count };
enum class FaultEffect : uint8_t { None, Fail, Short };

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
#else
#define VENNHOLT_FAULT_EFFECT(operation) FaultEffect::None
#endif

// For a transfer of `count` bytes: false when the operation is to fail, otherwise true with
// `count` halved when it is to come back short.
inline bool applyFault(FaultEffect effect, uint32_t& count) {
    if (effect == FaultEffect::Fail) return false;
    if (effect == FaultEffect::Short) count /= 2;
    return true;
}
