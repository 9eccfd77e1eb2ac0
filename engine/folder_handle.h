#pragma once
// FolderHandle: owns the open handle of one folder of the install, through which the run reaches
// every name in that folder.
//
// The updater runs elevated in a folder that others may change while it runs. Names are therefore
// never looked up from the install folder's path twice: the install folder is opened once, each
// subfolder relative to its parent's handle without following a link, and every file relative to
// its folder's handle. Whatever is later renamed, swapped or linked at a folder's name, the handle
// still names the folder that was opened and checked.
//
// The functions that open one and act on names in it are the platform's (engine/file_system.h), and
// so is close.

#include <cstdint>

class FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    // Moving hands the handle over; the moved-from object is closed.
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;

    // Takes `handle` over, closing what was held; `pathForm` is how the system tells where files
    // in this folder are (a platform's own value: on Windows the form of final path that works on
    // the folder's volume, or none).
    void reset(intptr_t handle, uint8_t pathForm);
    void close();

    bool isOpen() const { return handle_ != invalidHandle; }
    intptr_t nativeHandle() const { return handle_; }
    uint8_t pathForm() const { return pathForm_; }

    static constexpr intptr_t invalidHandle = -1;

private:
    intptr_t handle_ = invalidHandle;
    uint8_t pathForm_ = 0;
};
