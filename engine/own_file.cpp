#include "engine/own_file.h"

#include "engine/file_handle.h"

OwnFileFailure createOwnFile(FileHandle& file, const char* path, const ResolvedFolder& folder) {
    switch (clearName(path)) {
        case NameClearing::Free:
            break;
        case NameClearing::Folder:
            return OwnFileFailure::Open;  // as an open of a folder fails
        case NameClearing::Kept:
            return OwnFileFailure::Remove;
    }
    if (!file.openWrite(path)) return OwnFileFailure::Open;
    if (liesInside(file, folder)) return OwnFileFailure::None;
    deleteOpenFile(file);
    refuse(Refusal::SymbolicLink);
    return OwnFileFailure::Outside;
}

bool openInstalledList(FileHandle& file, const char* path) {
    if (!file.openRead(path)) return false;
    if (isPlainFile(file, path)) return true;
    file.close();
    NameState state{};
    inspectName(path, state);
    return refuse(state.kind == NameKind::HardLinked ? Refusal::HardLink : Refusal::SymbolicLink);
}

bool createTemporaryFile(FileHandle& file, const char* path, const ResolvedFolder& folder, RewriteFailure* failure) {
    const OwnFileFailure created = createOwnFile(file, path, folder);
    if (created == OwnFileFailure::None) return true;
    if (failure != nullptr && created != OwnFileFailure::Open) failure->temporary = created;
    return failedCall(failure);
}
