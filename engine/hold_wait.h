#pragma once
// Waiting out a target that another program holds open for a moment: virus scanners, indexers and
// backup agents open files right after they are written, or while they read them. The run tries
// again after pauses that grow from 50 ms to 1 s, 10 s in all per run, and handles the dialog's
// messages every 50 ms meanwhile, so that the window stays responsive.

#include <cstdint>

class FolderHandle;
struct Display;

// How long a run waits for held targets, in all, in milliseconds.
inline constexpr uint32_t holdWaitLimit = 10000;

struct HoldWait {
    uint32_t waited = 0;  // milliseconds paused so far in this run
    uint32_t nextPause = 50;
};

enum class HoldPause : uint8_t {
    Paused,   // try again
    Stopped,  // a stop was asked for while the run may still stop
    Spent,    // the run has waited its limit; nothing was paused
};
// Pauses before the next try. With `stoppable`, a stop asked for meanwhile ends the pause at once.
HoldPause pauseForHold(HoldWait& wait, const Display& display, bool stoppable);

// True when the move over `name` in `folder` failed with the system's `code` because another program
// holds the target: a sharing or lock violation, or access denied on a file that is not read-only.
bool isHeldTarget(const FolderHandle& folder, const char* name, uint32_t code);
