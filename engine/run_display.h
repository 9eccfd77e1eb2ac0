#pragma once
// The update run's view of its host (engine/run_host.h): the display steps, each skipped for an
// absent control, the message pump and the stop flags.

#include <cstdint>

#include "engine/run_host.h"

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
