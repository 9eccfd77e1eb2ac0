#pragma once
// Another program at work in the install folder: it swaps a name for a symbolic link to a place
// outside while the updater runs. Natively a POSIX symbolic link; for the Windows build under Wine a
// Unix one, made by a shell that Wine starts (Wine shows it as the file or folder behind it).

#include <string>

// True where links can be made this way (natively, and the Windows build under Wine).
bool canSwapForLinks();
// Moves what stands at `path` (if anything) to "<path>.swapped" and puts a symbolic link to `target`
// in its place.
void swapForLink(const std::string& path, const std::string& target);
// Takes the swap back: a link still at `path` is removed and "<path>.swapped" moved back; where the
// link has been replaced, "<path>.swapped" is dropped.
void undoSwap(const std::string& path);
