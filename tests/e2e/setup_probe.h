#pragma once
// What the probe inside setup.exe (setup_probe.cpp) and the driver share.

inline constexpr char probeDllName[] = "setup_probe.dll";
inline constexpr char probeHookName[] = "setupProbeHook";              // WH_CALLWNDPROCRET
inline constexpr char probeCreateHookName[] = "setupProbeCreateHook";  // WH_CBT

// The window property a message box gets from the probe: 1 + the index of the icon it shows in
// probeIcons. A box without it has not been seen by the probe yet.
inline constexpr char probeIconProperty[] = "vennholt-e2e-icon";
inline constexpr const char* probeIcons[] = {"none", "other", "information", "warning", "question", "error"};
