#include "engine/folder_handle.h"

FolderHandle::~FolderHandle() { close(); }

FolderHandle::FolderHandle(FolderHandle&& other) noexcept { *this = static_cast<FolderHandle&&>(other); }

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        reset(other.handle_, other.pathForm_);
        other.handle_ = invalidHandle;
    }
    return *this;
}

void FolderHandle::reset(intptr_t handle, uint8_t pathForm) {
    close();
    handle_ = handle;
    pathForm_ = pathForm;
}
