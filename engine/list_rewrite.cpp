#include "engine/list_rewrite.h"

#include "engine/file_handle.h"

bool replaceInstalledList(const FolderHandle& folder, const char* listName, const char* temporaryName,
                          std::initializer_list<ByteSpan> parts, RewriteFailure* failure) {
    FileHandle file;
    const OwnFileFailure created = createOwnFile(file, folder, temporaryName);
    if (created != OwnFileFailure::None) {
        if (failure != nullptr) failure->temporary = created;
        return failedCall(failure);
    }
    for (const ByteSpan& part : parts) {
        clearSystemErrorCode();  // a write that comes back short may fail no call
        if (part.count != 0 && file.write(part.bytes, part.count) != part.count) {
            failedCall(failure);
            deleteOpenFile(file, folder, temporaryName);
            return false;
        }
    }
    // On the disk before it replaces the list, so that a crash leaves the old list or the new one.
    if (!flushFile(file)) {
        if (failure != nullptr) failure->temporary = OwnFileFailure::Flush;
        failedCall(failure);
        deleteOpenFile(file, folder, temporaryName);
        return false;
    }
    if (moveOpenFile(file, folder, temporaryName, listName)) return true;
    failedCall(failure);
    deleteOpenFile(file, folder, temporaryName);
    return false;
}
