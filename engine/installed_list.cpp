#include "engine/installed_list.h"

#include "engine/file_handle.h"
#include "engine/file_system.h"

bool openInstalledList(FileHandle& file, const FolderHandle& folder, const char* name) {
    if (!file.openRead(folder, name)) return false;
    NameState state{};
    if (!inspectOpenFile(file, folder, name, state)) {
        file.close();
        return false;
    }
    if (state.kind == NameKind::File && !state.readOnly) return true;
    file.close();
    // A read-only list is refused although some systems (Wine) would let a move replace it.
    return refuse(state.kind == NameKind::HardLinked ? Refusal::HardLink
                  : state.kind == NameKind::File     ? Refusal::AccessDenied
                                                     : Refusal::SymbolicLink);
}
