#pragma once
// The names the updater writes in a game folder for itself: beside each file it installs, that
// file's staging file "<target>.tmp", and at the folder's top the temporary files of its two lists
// (uninst.lst.new, TLX.hvl.prune~). Whatever stands at one of those names in a player's install is
// removed by the run, so a file of the release there would vanish from every install, and its
// record be pruned, without a word.

#include <string>
#include <vector>

struct NamedFile {
    std::string shown;   // as messages name it
    std::string folded;  // its name in the game folder in code page 932, as Windows finds it (foldedName)
};

// One line for each file of `files` (a release's, packed or not) that stands at a name the run
// writes for itself while it installs `installed`, naming both files. Names are compared as the
// updater compares them.
std::vector<std::string> filesAtRunNames(const std::vector<NamedFile>& files, const std::vector<NamedFile>& installed);
