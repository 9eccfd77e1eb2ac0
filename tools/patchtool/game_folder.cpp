#include "tools/patchtool/game_folder.h"

#include <filesystem>
#include <optional>

#include "tools/patchtool/platform.h"

bool readGameFolder(const std::string& typed, GameFolder& folder, std::string& error) {
    // UTF-8, so no byte of a character is taken for a separator; a root ("/", "C:\") keeps its own.
    folder.typed = typed;
    while (folder.typed.size() > 1 && (folder.typed.back() == '/' || folder.typed.back() == '\\') &&
           folder.typed[folder.typed.size() - 2] != ':') {
        folder.typed.pop_back();
    }
    std::error_code ignored;
    if (!std::filesystem::is_directory(fileSystemPath(folder.typed), ignored)) {
        error = "the game folder " + typed + " is not a folder";
        return false;
    }
    const std::optional<std::string> engine = engineFolderPath(folder.typed);
    if (engine) {
        folder.engine = *engine;
        return true;
    }
    error = "the game folder " + typed + ": this system's code page cannot name it, so the updater could not either";
    return false;
}
