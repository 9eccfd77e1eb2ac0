#pragma once
// The player's install that apply and check work on, given with --folder.

#include <string>

// A game folder given with --folder: as typed, without trailing separators (the engine joins names
// to it with one of its own), and as the engine's file calls take it (see engineFolderPath).
struct GameFolder {
    std::string typed;
    std::string engine;
};
// False, with a reason in `error`, when it is no folder or the system's code page cannot name it.
bool readGameFolder(const std::string& typed, GameFolder& folder, std::string& error);
