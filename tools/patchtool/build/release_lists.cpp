#include "tools/patchtool/build/release_lists.h"

#include <cstdio>

#include "engine/uninstall_list.h"
#include "engine/version_list.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/name_encoding.h"

namespace {

bool isTopFile(const std::string& path, const char* name) {
    return path.find('/') == std::string::npos && foldedName(utf8ToCodePage932(path).value_or("")) == foldedName(name);
}

}  // namespace

bool isReleaseList(const std::string& path) {
    return isTopFile(path, versionListName) || isTopFile(path, uninstallListName);
}

bool isReleaseUninstallList(const std::string& path) { return isTopFile(path, uninstallListName); }

bool isUninstallListEntry(const std::string& name) { return foldedName(name) == foldedName(uninstallListName); }

std::string nothingToCarry(const std::string& folder) {
    return refused(folder, refusal::nothingToCarry,
                   "a patch of it would install nothing and replace every player's version list: is the release "
                   "there?");
}

void printUninstallListLeftOut() {
    std::printf(
        "%-9s  %s  (every player's own list is kept and the installed names merged into it; name it to "
        "replace theirs)\n",
        "left out", uninstallListName);
}

std::string uninstallListPacked() {
    return std::string("warning: ") + uninstallListName +
           " is packed: it replaces every player's uninstall list, and the lines theirs had of its own (DLC, files "
           "of earlier patches, folders) are lost, so the uninstaller leaves those files behind";
}
