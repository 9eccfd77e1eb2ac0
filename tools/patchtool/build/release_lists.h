#pragma once
// The two lists at the top of a release that a patch built from it leaves out: its version list
// (the patch carries a list of the whole release instead, and the updater prunes it) and its
// uninstall list (the updater merges the installed names into every player's own list, whose lines
// of their own, DLC, files of earlier patches, folders, would be lost if the publisher's replaced it).

#include <string>

// True for a file at a release's top (a path relative to it, "/" between folders) that takes no
// part in a patch: its TLX.hvl or its uninst.lst.
bool isReleaseList(const std::string& path);
bool isReleaseUninstallList(const std::string& path);
// True for an entry's name (code page 932) that installs over the player's uninstall list.
bool isUninstallListEntry(const std::string& name);

// Why a release folder that holds no file but TLX.hvl and uninst.lst (a share not mounted, a copy not
// made) gives no patch: it would install nothing and replace every player's version list.
std::string nothingToCarry(const std::string& folder);

// The listing's line for a release's uninstall list that was left out.
void printUninstallListLeftOut();
// The warning for an uninstall list the publisher named to be packed.
std::string uninstallListPacked();
