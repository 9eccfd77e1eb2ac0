#pragma once
// FileHandle: the one object through which the engine opens, reads and writes files.
//
// It owns one operating-system handle and adds nothing on top of it: no buffering, no retries and
// no error codes. Every operation is one system call whose outcome is reduced to a byte count or a
// yes/no answer; callers decide what a short count means. Sizes and positions are 32-bit, and
// positions are limited to 0 .. 2^31 - 1.
//
// Sharing: a reader lets other readers in and keeps writers out; a writer is exclusive and
// creates a new file: it fails when anything stands at the name, a link included, so that nothing
// is ever written through a name someone else put there (clearName makes the name free first).
// Both open a file either by its path or as a name inside a folder the caller holds open, relative
// to that folder's handle and without following a link. The operations read, write, seek and size
// do not look at the state: on a closed object they fail as the system fails them (0, 0, false,
// 0xFFFFFFFF).

#include <cstdint>

class FolderHandle;

class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens an existing file for reading. Fails at once, opening nothing, when already open.
    bool openRead(const char* path);
    // The same for the file `name` (one component) in `folder`; a link there is not followed.
    bool openRead(const FolderHandle& folder, const char* name);
    // Creates a new file for exclusive writing, following no link; fails when anything stands at
    // `path`. The handle may also delete or move the file (deleteOpenFile, moveOpenFile). Fails at
    // once when already open.
    bool openWrite(const char* path);
    // The same for the new file `name` (one component) in `folder`.
    bool openWrite(const FolderHandle& folder, const char* name);

    // One read of at most count bytes; the bytes moved, 0 on failure or at end of file.
    uint32_t read(void* destination, uint32_t count);
    // One write of count bytes; the bytes stored, 0 on failure.
    uint32_t write(const void* source, uint32_t count);
    // Absolute seek; true when the new position equals the requested one. Positions at or above
    // 2^31 fail. Seeking past the end succeeds; a following read moves 0 bytes.
    bool seek(uint32_t position);
    // The low 32 bits of the file size, or 0xFFFFFFFF when the system cannot tell.
    uint32_t size();
    // Closes when open; does nothing otherwise.
    void close();

    bool isOpen() const { return handle_ != invalidHandle; }
    // The operating-system handle, for the file-system calls that look at an open file.
    intptr_t nativeHandle() const { return handle_; }

    // The all-ones value of a pointer-sized handle (INVALID_HANDLE_VALUE, or -1 as a descriptor).
    static constexpr intptr_t invalidHandle = -1;

private:
    intptr_t handle_ = invalidHandle;
};

// Largest position seek accepts: the system call takes a signed 32-bit distance.
inline constexpr uint32_t maxFilePosition = 0x7FFFFFFFu;
// What size reports when the system cannot tell.
inline constexpr uint32_t invalidFileSize = 0xFFFFFFFFu;
