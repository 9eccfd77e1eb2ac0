#include "engine/folder_walk.h"

#include <cstring>

#include "engine/folder_handle.h"
#include "engine/target_name.h"

namespace {

// Components are copied into a buffer of this size; a longer one names nothing on any system.
constexpr uint32_t componentCapacity = 260;

bool copyComponent(char (&component)[componentCapacity], const char* rest, uint32_t length) {
    if (length >= componentCapacity) return false;
    std::memcpy(component, rest, length);
    component[length] = '\0';
    return true;
}

}  // namespace

SubfolderOpening openFolderPart(const FolderHandle& folder, const char* name, FolderHandle& opened,
                                const char*& stopped) {
    const FolderHandle* parent = &folder;
    for (stopped = name;;) {
        const uint32_t length = componentLength(stopped);
        if (stopped[length] == '\0') return SubfolderOpening::Opened;
        char component[componentCapacity];
        if (!copyComponent(component, stopped, length)) return SubfolderOpening::Failed;
        FolderHandle next;
        const SubfolderOpening opening = openSubfolder(next, *parent, component);
        if (opening != SubfolderOpening::Opened) return opening;
        opened = static_cast<FolderHandle&&>(next);
        parent = &opened;
        stopped += length + 1;
    }
}

NamePresence namePresence(const FolderHandle& folder, const char* name) {
    if (!isSafeTargetName(name)) return NamePresence::Unknown;
    FolderHandle opened;
    const char* stopped = nullptr;
    const SubfolderOpening opening = openFolderPart(folder, name, opened, stopped);
    if (opening == SubfolderOpening::LeadsOut) return NamePresence::Unknown;
    char component[componentCapacity];
    NameState state{};
    if (!copyComponent(component, stopped, componentLength(stopped)) ||
        !inspectName(opened.isOpen() ? opened : folder, component, state)) {
        return NamePresence::Unknown;
    }
    if (opening == SubfolderOpening::Opened) {
        return state.kind == NameKind::Missing ? NamePresence::Missing : NamePresence::Present;
    }
    // A folder on the way that is not there holds nothing; one that is there but cannot be opened may.
    return state.kind == NameKind::Folder ? NamePresence::Unknown : NamePresence::Missing;
}
