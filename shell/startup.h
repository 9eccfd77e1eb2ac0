#pragma once
// The updater from start to end: the guards against a second copy and a running game, the install
// folder, the consent question, the progress dialog around one update run, and the outcome message.

#include <windows.h>

#include <cstdint>

// Exit statuses of the ends before a run; a run's own result is passed on unchanged.
inline constexpr int32_t exitNotInstalled = -1;
inline constexpr int32_t exitEngineRunning = -2;
inline constexpr int32_t exitNoConsent = -3;
inline constexpr int32_t exitDialogFailed = -4;
inline constexpr int32_t exitAnotherCopyRunning = -5;

// Everything the program does, in order; the exit status. instance holds the dialog template,
// showCommand is how the process was asked to show its window.
int32_t runSetup(HINSTANCE instance, int showCommand);
