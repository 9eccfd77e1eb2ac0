#pragma once
// Final paths: where the system says an open file or folder is (GetFinalPathNameByHandleW). Windows
// marks every link and junction with an attribute, but Wine shows a Unix symbolic link as the file or
// folder behind it; only its final path, which is that of the place it leads to, tells it apart.
//
// A volume need not give every form of final path (some RAM disks, mounted images, third-party
// file systems and network shares give no normalized one), so each folder keeps the first form its
// volume gives, and everything in it is compared in that same form. Where no form works, the link
// attributes alone decide: a player's drive is never refused for it.
#include <windows.h>

#include <cstdint>

class FolderHandle;

// No form of final path works for the folder.
inline constexpr uint8_t noPathForm = 0xFF;

// The first form of final path the system gives for the open folder: normalized with a drive letter,
// else with the volume's NT name, else with its GUID; noPathForm when none works.
uint8_t pathFormOf(HANDLE folder);

// True when the final path of the open `handle` is that of `folder`, a separator and `name`, letter
// case aside: the name reaches its own file or folder and does not lead elsewhere. True as well
// when the final paths cannot be had; the caller's link attributes decide then.
bool reachesItself(HANDLE handle, const FolderHandle& folder, const char* name);

// True when the path the system gives for the open `handle`, looked up as a path is (links
// followed), still reaches the file or folder the handle holds. Wine renames an open file by the
// paths it kept when the file and its folder were opened: once someone has moved the folder away
// and put a link in its place, those paths lead through the link. True as well when the final path
// cannot be had.
bool stillAtItsPath(HANDLE handle);
