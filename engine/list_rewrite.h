#pragma once
// Replacing one of the two lists in the install folder: the new bytes go to a temporary file of the
// run's own beside the list, which is then moved over the list in one step, so that the list is
// either the old one or the complete new one.

#include <cstdint>
#include <initializer_list>

#include "engine/file_system.h"
#include "engine/own_file.h"

class FolderHandle;

// Why a rewrite of one of the lists failed: the system's code of the call that failed (0 when none
// did), and where making its temporary file failed, when that is where it failed.
struct RewriteFailure {
    uint32_t systemError = 0;
    OwnFileFailure temporary = OwnFileFailure::None;
};

// Hands the code of the call that just failed to a caller that asked for it; false, so that a
// failing function can return through it.
inline bool failedCall(RewriteFailure* failure) {
    if (failure != nullptr) failure->systemError = systemErrorCode();
    return false;
}

struct ByteSpan {
    const void* bytes;
    uint32_t count;
};

// Replaces the list `listName` in `folder` with `parts`, one after another: writes them to
// `temporaryName`, a new file of the run's own held open until it is moved over the list, and
// flushes it to the disk before the move. On any failure the temporary file is deleted through its handle, the list is
// as it was, and `failure`, when given, tells why.
bool replaceInstalledList(const FolderHandle& folder, const char* listName, const char* temporaryName,
                          std::initializer_list<ByteSpan> parts, RewriteFailure* failure);
