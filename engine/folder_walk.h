#pragma once
// Following a relative name (folders separated by "\" or "/") below a folder the caller holds open:
// one component at a time, each folder opened relative to the one before and never through a link,
// so that nothing on the way is looked up from a path and no link leads the walk out.

#include <cstdint>

#include "engine/file_system.h"

class FolderHandle;

// Opens the folders on the way to the last component of `name` below `folder`. Opened when every one
// opened, the last of them then in `opened` (which is left alone when `name` has no folder part);
// otherwise how the first that did not open ended, `opened` then holding its parent when that is
// not `folder`. `stopped` points at the component where the walk ended: the last one, or the folder
// that did not open.
SubfolderOpening openFolderPart(const FolderHandle& folder, const char* name, FolderHandle& opened,
                                const char*& stopped);

enum class NamePresence : uint8_t {
    Present,  // something stands at the name: a file, a folder, a link
    Missing,  // nothing does, or a folder on its way is missing or no folder
    Unknown,  // it cannot be followed: a link on its way, a folder that cannot be opened or looked at,
              // or a name the updater would never install a file under
};
// Whether `name` stands for anything below `folder`, walked as above.
NamePresence namePresence(const FolderHandle& folder, const char* name);
