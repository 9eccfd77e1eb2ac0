#pragma once
// What an update run needs from the program hosting it: three display controls (a file label, a
// file bar and an overall bar, each of which may be absent), the message pump, and the two stop
// flags. setup.exe hosts the run with its progress dialog, patchtool with a terminal progress line,
// and the tests with a scripted host.
//
// A plain struct of function pointers with a context pointer: the run calls nothing else of its
// host. Every function pointer must be set; absent controls are null handles in RunControls.

#include <cstdint>

// Opaque handles of the three controls, taken once at the start of a run; null when absent.
struct RunControls {
    void* label;       // the file label: "<name>をインストール中"
    void* fileBar;     // progress of the current entry, range 0-65535
    void* overallBar;  // entries done, range 0-count
};

struct RunHost {
    void* context;
    RunControls (*takeControls)(void* context);
    // Display calls; the run calls them only with a non-null control.
    void (*setText)(void* context, void* control, const char* text);
    void (*setRange)(void* context, void* control, uint32_t low, uint32_t high);
    void (*setPosition)(void* context, void* control, uint32_t position);
    // Handles pending messages without waiting: 0 normally, 1 when the quit message came or
    // message handling failed (the run then sets the cancel flag).
    uint32_t (*pumpMessages)(void* context);
    // The stop flags: set at most once, never cleared.
    bool (*cancelFlag)(void* context);
    bool (*abortFlag)(void* context);
    void (*setCancelFlag)(void* context);
};
