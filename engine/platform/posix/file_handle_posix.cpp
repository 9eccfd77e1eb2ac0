// FileHandle on POSIX, keeping the observable contract of the Win32 one: a reader shares with
// readers only, a writer is exclusive and creates a new file, and each transfer is one system call.
// The sharing rules are enforced between FileHandles through advisory flock() locks, which is
// where every reader and writer of the engine comes from.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/posix/native_path.h"

namespace {

int descriptor(const FolderHandle& folder) { return static_cast<int>(folder.nativeHandle()); }

// Opens `name` relative to `folder` (AT_FDCWD for a path) for reading and locks it without waiting;
// the descriptor, or -1 when the file is missing, is a folder (refused with the code of a refusal,
// as the system would open it), or is held by a writer. O_NONBLOCK keeps a pipe put where a file
// was expected from holding the open; on a regular file it changes nothing.
int openForReading(int folder, const char* name, int flags) {
    const int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd < 0) return -1;
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            refuse(Refusal::Folder);
        } else if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            return fd;
        }
    }
    ::close(fd);  // succeeding, it leaves the code of the call that failed as it is
    return -1;
}

// A new file or nothing: O_EXCL fails on any name that exists, and with O_NOFOLLOW on a link too,
// dangling or not. The lock marks the file as held, as an exclusive Windows handle would.
int createForWriting(int folder, const char* name) {
    const int fd = ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

FileHandle::~FileHandle() { close(); }

bool FileHandle::openRead(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = openForReading(AT_FDCWD, toNativePath(path).c_str(), 0);
    return isOpen();
}

bool FileHandle::openRead(const FolderHandle& folder, const char* name) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = openForReading(descriptor(folder), name, O_NOFOLLOW);
    return isOpen();
}

bool FileHandle::openWrite(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = createForWriting(AT_FDCWD, toNativePath(path).c_str());
    return isOpen();
}

bool FileHandle::openWrite(const FolderHandle& folder, const char* name) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = createForWriting(descriptor(folder), name);
    if (isOpen()) VENNHOLT_FILE_CHANGED(FileChange::Create, handle_, folder.nativeHandle(), name);
    return isOpen();
}

uint32_t FileHandle::read(void* destination, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Read), count)) return 0;
    const ssize_t moved = ::read(static_cast<int>(handle_), destination, count);
    return moved < 0 ? 0 : static_cast<uint32_t>(moved);
}

uint32_t FileHandle::write(const void* source, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Write), count)) return 0;
    const ssize_t moved = ::write(static_cast<int>(handle_), source, count);
    if (moved <= 0) return 0;
    VENNHOLT_FILE_CHANGED(FileChange::Write, handle_, -1, nullptr, source, static_cast<uint32_t>(moved));
    return static_cast<uint32_t>(moved);
}

bool FileHandle::seek(uint32_t position) {
    if (VENNHOLT_FAULT_EFFECT(Seek) != FaultEffect::None) return false;
    if (position > maxFilePosition) return false;
    return ::lseek(static_cast<int>(handle_), static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

uint32_t FileHandle::size() {
    struct stat status {};
    if (::fstat(static_cast<int>(handle_), &status) != 0) return invalidFileSize;
    return static_cast<uint32_t>(static_cast<uint64_t>(status.st_size));
}

void FileHandle::close() {
    if (!isOpen()) return;
    ::close(static_cast<int>(handle_));
    handle_ = invalidHandle;
}
