// The file-system calls on POSIX, keeping the Win32 contract: a file without any write permission
// bit stands for a read-only file (refused as a move target, even to root), and a file locked by a
// FileHandle cannot be replaced. What is refused here gets the code of a refusal.
//
// Every name is reached relative to the descriptor of its folder (the *at calls): looked at with
// fstatat(AT_SYMLINK_NOFOLLOW), removed with unlinkat, moved with renameat, and a subfolder opened
// with O_NOFOLLOW, so that no link is ever followed and nothing is looked up from the install
// folder's path again. POSIX has no call that renames or removes an open file by its descriptor:
// the name is checked to hold the very file the descriptor holds first, so that nothing put there
// meanwhile is moved or removed; whatever happens at a name, it happens inside the held folder.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/posix/native_path.h"

namespace {

bool isReadOnly(const struct stat& status) { return (status.st_mode & 0222) == 0; }

int descriptor(const FileHandle& file) { return static_cast<int>(file.nativeHandle()); }
int descriptor(const FolderHandle& folder) { return static_cast<int>(folder.nativeHandle()); }

// True when no FileHandle holds the regular file `name`: an exclusive lock can be taken (and is let
// go at once). Opened without following a link and without waiting.
bool isFree(const FolderHandle& folder, const char* name) {
    const int fd = ::openat(descriptor(folder), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// True when `name` in `folder` still holds the file open in `file`.
bool holdsOpenFile(const FolderHandle& folder, const char* name, const FileHandle& file) {
    struct stat opened {
    }, named{};
    return ::fstat(descriptor(file), &opened) == 0 &&
           ::fstatat(descriptor(folder), name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named);
}

NameState classify(const struct stat& status) {
    if (S_ISDIR(status.st_mode)) return {NameKind::Folder, false};
    if (S_ISREG(status.st_mode))
        return {status.st_nlink > 1 ? NameKind::HardLinked : NameKind::File, isReadOnly(status)};
    return {NameKind::Link, false};  // a symbolic link, pipe, socket or device node: no bytes of its own
}

}  // namespace

void FolderHandle::close() {
    if (!isOpen()) return;
    ::close(static_cast<int>(handle_));
    handle_ = invalidHandle;
}

bool openFolder(FolderHandle& folder, const char* path) {
    if (VENNHOLT_FAULT_EFFECT(Folder) != FaultEffect::None) return false;
    const int fd = ::open(toNativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    folder.reset(fd, 0);
    VENNHOLT_FILE_CHANGED(FileChange::Folder, fd, -1, path);
    return true;
}

SubfolderOpening openSubfolder(FolderHandle& subfolder, const FolderHandle& parent, const char* name) {
    if (VENNHOLT_FAULT_EFFECT(Folder) != FaultEffect::None) return SubfolderOpening::Failed;
    const int fd = ::openat(descriptor(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        subfolder.reset(fd, 0);
        VENNHOLT_FILE_CHANGED(FileChange::Folder, fd, parent.nativeHandle(), name);
        return SubfolderOpening::Opened;
    }
    // O_NOFOLLOW refuses a symbolic link, with ELOOP or (with O_DIRECTORY) ENOTDIR; which of the two
    // it was is told by the name itself.
    const int error = errno;
    struct stat status {};
    if ((error == ELOOP || error == ENOTDIR) &&
        ::fstatat(descriptor(parent), name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode)) {
        refuse(Refusal::SymbolicLink);
        return SubfolderOpening::LeadsOut;
    }
    errno = error;
    return SubfolderOpening::Failed;
}

bool inspectName(const FolderHandle& folder, const char* name, NameState& state) {
    state = {NameKind::Missing, false};
    struct stat status {};
    if (::fstatat(descriptor(folder), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    state = classify(status);
    return true;
}

bool inspectOpenFile(const FileHandle& file, const FolderHandle&, const char*, NameState& state) {
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0) return false;
    state = classify(status);
    return true;
}

// Every name but a folder is removed as the name itself: unlinkat neither follows a link nor needs
// the file writable, so the file behind a link, or shared by another name, keeps its bytes and mode.
NameClearing clearName(const FolderHandle& folder, const char* name) {
    struct stat status {};
    if (::fstatat(descriptor(folder), name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? NameClearing::Free : NameClearing::Kept;
    }
    if (S_ISDIR(status.st_mode)) {
        refuse(Refusal::Folder);
        return NameClearing::Folder;
    }
    if (::unlinkat(descriptor(folder), name, 0) != 0) return NameClearing::Kept;
    VENNHOLT_FILE_CHANGED(FileChange::Remove, -1, folder.nativeHandle(), name);
    return NameClearing::Free;
}

// The file is opened as the name itself (O_PATH, no link followed) and changed through that
// descriptor, so a link put at the name after it was looked at is never followed.
bool resetFileAttributes(const FolderHandle& folder, const char* name) {
    const int fd = ::openat(descriptor(folder), name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const bool reset = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                       ::chmod(self.c_str(), (status.st_mode & 07777) | S_IWUSR) == 0;
    ::close(fd);
    if (reset) VENNHOLT_FILE_CHANGED(FileChange::Attributes, -1, folder.nativeHandle(), name);
    return reset;
}

bool moveOpenFile(FileHandle& file, const FolderHandle& folder, const char* from, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    // What stands at `from` now is moved only when it is the file this run wrote.
    if (!holdsOpenFile(folder, from, file)) return refuse(Refusal::Replaced);
    // A link at the target is replaced as a name, whatever it leads to.
    struct stat status {};
    if (::fstatat(descriptor(folder), to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
        if (S_ISREG(status.st_mode) && (isReadOnly(status) || !isFree(folder, to)))
            return refuse(Refusal::AccessDenied);
    }
    if (::renameat(descriptor(folder), from, descriptor(folder), to) != 0) return false;
    VENNHOLT_FILE_CHANGED(FileChange::Rename, file.nativeHandle(), folder.nativeHandle(), to);
    file.close();
    return true;
}

void deleteOpenFile(FileHandle& file, const FolderHandle& folder, const char* name) {
    if (holdsOpenFile(folder, name, file) && ::unlinkat(descriptor(folder), name, 0) == 0) {
        VENNHOLT_FILE_CHANGED(FileChange::Remove, file.nativeHandle(), folder.nativeHandle(), name);
    }
    file.close();
}

void startWriteBack(const FileHandle& file, uint32_t offset, uint32_t length) {
    ::sync_file_range(descriptor(file), offset, length, SYNC_FILE_RANGE_WRITE);
}

bool flushFile(const FileHandle& file) {
    if (VENNHOLT_FAULT_EFFECT(Flush) != FaultEffect::None || ::fsync(descriptor(file)) != 0) return false;
    VENNHOLT_FILE_CHANGED(FileChange::Flush, file.nativeHandle(), -1, nullptr);
    return true;
}

bool flushFolder(const FolderHandle& folder) { return ::fsync(descriptor(folder)) == 0; }

// A FileHandle that holds the file stands for another program that holds it, as a Windows handle
// without FILE_SHARE_DELETE does.
bool canReplaceNow(const FolderHandle& folder, const char* name) {
    if (VENNHOLT_FAULT_EFFECT(Probe) != FaultEffect::None) return false;
    struct stat status {};
    if (::fstatat(descriptor(folder), name, &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    return !S_ISREG(status.st_mode) || isFree(folder, name) || refuse(Refusal::Held);
}

bool isHeldCode(uint32_t code) { return code == EBUSY || code == EWOULDBLOCK; }

void pauseMilliseconds(uint32_t milliseconds) {
    struct timespec pause {
        static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000
    };
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

bool ownExecutablePath(char* buffer, uint32_t size) {
    if (size == 0) return false;
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return false;
    const size_t kept = static_cast<size_t>(length) < size - 1 ? static_cast<size_t>(length) : size - 1;
    std::memcpy(buffer, path, kept);
    buffer[kept] = '\0';
    return true;
}

uint32_t systemErrorCode() { return static_cast<uint32_t>(errno); }

void clearSystemErrorCode() { errno = 0; }

uint32_t refusalCode(Refusal refusal) {
    constexpr int codes[] = {EACCES, EISDIR, EIO, ELOOP, EMLINK, ESTALE, EBUSY};
    static_assert(sizeof codes / sizeof *codes == static_cast<unsigned>(Refusal::Held) + 1);
    return static_cast<uint32_t>(codes[static_cast<unsigned>(refusal)]);
}

bool refuse(Refusal refusal) {
    errno = static_cast<int>(refusalCode(refusal));
    return false;
}
