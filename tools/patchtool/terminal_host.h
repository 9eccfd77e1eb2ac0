#pragma once
// The run host of patchtool apply: a one-line progress display on standard error (file name, the
// file's percentage, files done of the total) when standard error is a terminal, and Ctrl-C as
// the way to stop the run, which then ends as Cancelled and leaves the folder as it was.

#include <cstdint>
#include <string>

#include "engine/run_host.h"

struct TerminalProgress {
    bool shown = false;  // standard error is a terminal
    std::string file;    // the current target name, as UTF-8
    uint32_t fileHigh = 0, filePosition = 0;
    uint32_t overallHigh = 0, overallPosition = 0;
    bool lineOpen = false;  // a progress line waits to be ended
};

// A host that draws into `progress`. Installs the Ctrl-C handler; endTerminalRun removes it.
RunHost beginTerminalRun(TerminalProgress& progress);
// Ends the progress line and restores the previous Ctrl-C handling.
void endTerminalRun(TerminalProgress& progress);
