#pragma once
// The files the run creates for itself in the install folder, where others may have put anything:
// the staging files "<target>.tmp" and the temporary files of the two list rewrites. Each is a new
// file under a name the run chose, created relative to the handle of the folder it belongs in;
// whatever stood at that name beforehand (a leftover of an earlier run, a link, a second name of
// another file) is removed as a name and never written through.

#include <cstdint>

class FileHandle;
class FolderHandle;

// Where making a file of the run's own failed.
enum class OwnFileFailure : uint8_t {
    None,
    Open,    // a folder stands at the name, or the file cannot be created (something stands there again)
    Remove,  // something stands at the name that could not, or must not, be removed
    Flush,   // what was written to it could not be flushed to the disk
};

// Creates `name` in `folder` as a new file of the run's own, open for exclusive writing in `file`.
// On failure nothing was written, `file` is closed and the system's code tells why.
OwnFileFailure createOwnFile(FileHandle& file, const FolderHandle& folder, const char* name);
