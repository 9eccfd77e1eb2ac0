#pragma once
// A run host for tests: it records every display call and pump as a line of text, and follows a
// script that makes the pump return 1, or sets the abort or cancel flag, at its Nth call.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/run_host.h"

struct ScriptedHost {
    bool withControls = true;   // false: the run sees no label and no bars (a null dialog)
    uint32_t quitAtPump = 0;    // the pump returns 1 at this call (1-based); 0: never
    uint32_t abortAtPump = 0;   // the abort flag is set during this pump call
    uint32_t cancelAtPump = 0;  // the cancel flag is set during this pump call
    bool cancelFlag = false;
    bool abortFlag = false;
    uint32_t pumps = 0;
    // "text label <text>", "range file 0 65535", "position overall 3", "pump 4", ...
    std::vector<std::string> calls;

    RunHost host();
};
