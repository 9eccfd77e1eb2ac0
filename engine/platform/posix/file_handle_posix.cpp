// FileHandle on POSIX, keeping the observable contract of the Win32 one: a reader shares with
// readers only, a writer is exclusive and truncates, and each transfer is one system call.
// The sharing rules are enforced between FileHandles through advisory flock() locks, which is
// where every reader and writer of the engine comes from.
#include "engine/file_handle.h"
#include "engine/platform/fault_injection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/file_system.h"
#include "engine/platform/posix/native_path.h"

namespace {

// Opens and locks without waiting; the descriptor, or -1 when the file is missing, is a folder,
// is read-only (no write bit at all, the counterpart of the read-only attribute, refused even to
// root) for a writer, or is held by another handle in a way the lock forbids. The two refusals
// the system would not make itself get the code of a refusal.
int openLocked(const char* path, int flags, int lock) {
    const int fd = ::open(toNativePath(path).c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat status {};
    const bool writing = (flags & O_ACCMODE) != O_RDONLY;
    if (::fstat(fd, &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            refuse(Refusal::Folder);
        } else if (writing && (status.st_mode & 0222) == 0) {
            refuse(Refusal::AccessDenied);
        } else if (::flock(fd, lock | LOCK_NB) == 0) {
            return fd;
        }
    }
    ::close(fd);  // succeeding, it leaves the code of the call that failed as it is
    return -1;
}

}  // namespace

FileHandle::~FileHandle() { close(); }

bool FileHandle::openRead(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    handle_ = openLocked(path, O_RDONLY, LOCK_SH);
    return isOpen();
}

bool FileHandle::openWrite(const char* path) {
    if (isOpen() || VENNHOLT_FAULT_EFFECT(Open) != FaultEffect::None) return false;
    // Truncate only once the lock is held, so that a file another handle still uses is left alone.
    const int fd = openLocked(path, O_WRONLY | O_CREAT, LOCK_EX);
    if (fd < 0) return false;
    if (::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

uint32_t FileHandle::read(void* destination, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Read), count)) return 0;
    const ssize_t moved = ::read(static_cast<int>(handle_), destination, count);
    return moved < 0 ? 0 : static_cast<uint32_t>(moved);
}

uint32_t FileHandle::write(const void* source, uint32_t count) {
    if (!applyFault(VENNHOLT_FAULT_EFFECT(Write), count)) return 0;
    const ssize_t moved = ::write(static_cast<int>(handle_), source, count);
    return moved < 0 ? 0 : static_cast<uint32_t>(moved);
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
