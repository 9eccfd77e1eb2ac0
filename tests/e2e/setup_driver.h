#pragma once
// The driver's setup mode: runs setup.exe as a player (and, where a scenario wants it, as the game or
// a second copy of the updater would) and reports what it saw, one line per observation. The
// expectations live with the scenarios (setup_e2e.py).

// driver setup SETUP_EXE INSTALL_FOLDER STEP... ; the exit status is 0 when every step could be
// carried out, whatever it observed.
int runSetupSteps(int argc, char** argv);
