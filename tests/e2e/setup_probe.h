#pragma once
// What the probe inside setup.exe (setup_probe.cpp) and the driver share.

#include <cstdint>

inline constexpr char probeDllName[] = "setup_probe.dll";
inline constexpr char probeHookName[] = "setupProbeHook";              // WH_CALLWNDPROCRET
inline constexpr char probeCreateHookName[] = "setupProbeCreateHook";  // WH_CBT

// The window property a message box gets from the probe, and its values; a box without the property
// was not seen by the probe.
inline constexpr char probeIconProperty[] = "vennholt-e2e-icon";
inline constexpr uintptr_t probeIconNone = 1;
inline constexpr uintptr_t probeIconOther = 2;
inline constexpr uintptr_t probeIconInformation = 3;
inline constexpr uintptr_t probeIconWarning = 4;
inline constexpr uintptr_t probeIconQuestion = 5;
inline constexpr uintptr_t probeIconError = 6;
