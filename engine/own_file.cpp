#include "engine/own_file.h"

#include "engine/file_handle.h"
#include "engine/file_system.h"

OwnFileFailure createOwnFile(FileHandle& file, const FolderHandle& folder, const char* name) {
    switch (clearName(folder, name)) {
        case NameClearing::Free:
            break;
        case NameClearing::Folder:
            return OwnFileFailure::Open;  // as an open of a folder fails
        case NameClearing::Kept:
            return OwnFileFailure::Remove;
    }
    return file.openWrite(folder, name) ? OwnFileFailure::None : OwnFileFailure::Open;
}
