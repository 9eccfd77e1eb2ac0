#pragma once
// OwnedHandle: owns one raw Windows handle for the span of a call and closes it when it goes,
// keeping the system's code of the call that failed before: CloseHandle may change it, and the
// engine reports the code of the failure, not of the clean-up.
#include <windows.h>

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    ~OwnedHandle() {
        if (!isOpen()) return;
        const DWORD error = GetLastError();
        CloseHandle(handle_);
        SetLastError(error);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Hands the handle over to another owner.
    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};
