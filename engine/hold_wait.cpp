#include "engine/hold_wait.h"

#include "engine/file_system.h"
#include "engine/run_display.h"

namespace {

// Messages are handled at least this often while the run pauses.
constexpr uint32_t pumpInterval = 50;
constexpr uint32_t longestPause = 1000;

}  // namespace

HoldPause pauseForHold(HoldWait& wait, const Display& display, bool stoppable) {
    if (wait.waited >= holdWaitLimit) return HoldPause::Spent;
    const uint32_t pause = wait.nextPause < holdWaitLimit - wait.waited ? wait.nextPause : holdWaitLimit - wait.waited;
    for (uint32_t paused = 0; paused < pause; paused += pumpInterval) {
        pauseMilliseconds(pause - paused < pumpInterval ? pause - paused : pumpInterval);
        display.pump();
        if (stoppable && display.stopRequested()) return HoldPause::Stopped;
    }
    wait.waited += pause;
    wait.nextPause = wait.nextPause * 2 < longestPause ? wait.nextPause * 2 : longestPause;
    return HoldPause::Paused;
}

bool isHeldTarget(const FolderHandle& folder, const char* name, uint32_t code) {
    if (isHeldCode(code)) return true;
    NameState state{};
    return code == refusalCode(Refusal::AccessDenied) && inspectName(folder, name, state) &&
           (state.kind == NameKind::File || state.kind == NameKind::HardLinked) && !state.readOnly;
}
