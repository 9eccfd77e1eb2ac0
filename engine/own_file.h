#pragma once
// The files of the install folder that the run writes, where others may have put anything.
//
// Files the run creates for itself (the staging files "<target>.tmp" and the temporary files of
// the two list rewrites) are new files under names the run chose, and lie inside the install folder
// as it resolved when the run started; whatever stood at such a name beforehand (a link, a second
// name of another file) is removed as a name and never written through. The installed lists are
// read only when they are files of their own: reading through a link would copy another file's
// lines into a list that every user can read.

#include <cstdint>

#include "engine/file_system.h"

class FileHandle;

// Where creating a file of the run's own failed.
enum class OwnFileFailure : uint8_t {
    None,
    Open,     // a folder stands at the name, or the file cannot be created (something stands there again)
    Remove,   // something stands at the name that could not, or must not, be removed
    Outside,  // the file came to lie outside the folder (a subfolder on its way leads out); deleted again
};

// Creates `path` as a new file of the run's own, open for writing in `file`. On failure nothing was
// written, `file` is closed and the system's code tells why.
OwnFileFailure createOwnFile(FileHandle& file, const char* path, const ResolvedFolder& folder);

// Opens the installed list at `path` for reading when it is a plain file: no link and no file that
// other names share. False, with the system's code (a refusal's for a link or a shared file), when
// it cannot be opened or is not such a file; nothing of it has been read then.
bool openInstalledList(FileHandle& file, const char* path);

// Why a rewrite of one of the lists failed: the system's code of the call that failed (0 when none
// did), and whether its temporary file could not be created as a file of the run's own.
struct RewriteFailure {
    uint32_t systemError = 0;
    OwnFileFailure temporary = OwnFileFailure::None;
};

// createOwnFile for the temporary file of a list's rewrite. False, with the failure in `failure`
// when it is given, when the file could not be created.
bool createTemporaryFile(FileHandle& file, const char* path, const ResolvedFolder& folder, RewriteFailure* failure);

// Hands the code of the call that just failed to a caller that asked for it; false, so that a
// failing function can return through it.
inline bool failedCall(RewriteFailure* failure) {
    if (failure != nullptr) failure->systemError = systemErrorCode();
    return false;
}
