#pragma once
// What the probe inside setup.exe (setup_probe.cpp) and the driver share: the DLL, its hooks (for
// WH_CALLWNDPROCRET and WH_CBT), the events of a held run, and the window property it gives a message
// box: 1 + the index in probeIcons of the icon the box shows.
inline constexpr char probeDllName[] = "setup_probe.dll", probeHookName[] = "setupProbeHook",
                      probeCreateHookName[] = "setupProbeCreateHook", probeIconProperty[] = "vennholt-e2e-icon",
                      heldEventName[] = "Local\\vennholt-e2e-held", releaseEventName[] = "Local\\vennholt-e2e-release";
inline constexpr const char* probeIcons[] = {"none", "other", "information", "warning", "question", "error"};
