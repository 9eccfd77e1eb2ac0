// The file-system calls on POSIX, keeping the Win32 contract: a file without any write permission
// bit stands for a read-only file (refused as a move target, even to root), and a file locked by a
// FileHandle cannot be replaced. What is refused here gets the code of a refusal.
//
// Names are looked at with lstat, which never follows a link, and removed with unlink, which removes
// the name itself whatever it is; neither changes a file behind a link or shared by another name.
// An open file is found again through /proc/self/fd, which names the very file the descriptor holds.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/posix/native_path.h"

namespace {

bool isReadOnly(const struct stat& status) { return (status.st_mode & 0222) == 0; }

int descriptor(const FileHandle& file) { return static_cast<int>(file.nativeHandle()); }

// True when no FileHandle holds the regular file: an exclusive lock can be taken (and is let go at
// once). Opened without following a link and without waiting, whatever stands there.
bool isFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// The path the open descriptor's file has now, into `path` of PATH_MAX bytes.
bool descriptorPath(int fd, char* path) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, PATH_MAX - 1);
    if (length <= 0) return false;
    path[length] = '\0';
    return true;
}

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

}  // namespace

bool inspectName(const char* path, NameState& state) {
    state = {NameKind::Missing, false};
    struct stat status {};
    if (::lstat(toNativePath(path).c_str(), &status) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (S_ISDIR(status.st_mode)) {
        state.kind = NameKind::Folder;
    } else if (S_ISREG(status.st_mode)) {
        state = {status.st_nlink > 1 ? NameKind::HardLinked : NameKind::File, isReadOnly(status)};
    } else {
        state.kind = NameKind::Link;  // a symbolic link, pipe, socket or device node: no bytes of its own
    }
    return true;
}

// Every name but a folder is removed as the name itself: unlink neither follows a link nor needs the
// file writable, so the file behind a link, or shared by another name, keeps its bytes and mode.
NameClearing clearName(const char* path) {
    const std::string native = toNativePath(path);
    struct stat status {};
    if (::lstat(native.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? NameClearing::Free : NameClearing::Kept;
    }
    if (S_ISDIR(status.st_mode)) {
        refuse(Refusal::Folder);
        return NameClearing::Folder;
    }
    return ::unlink(native.c_str()) == 0 ? NameClearing::Free : NameClearing::Kept;
}

// The file is opened as the name itself (O_PATH, no link followed) and changed through that
// descriptor, so a link put at the name after it was looked at is never followed.
bool resetFileAttributes(const char* path) {
    const int fd = ::open(toNativePath(path).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const bool reset = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                       ::chmod(self.c_str(), (status.st_mode & 07777) | S_IWUSR) == 0;
    ::close(fd);
    return reset;
}

bool moveReplacing(const char* from, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    const std::string source = toNativePath(from);
    const std::string target = toNativePath(to);
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0) return false;
    if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
    // A link at the target is replaced as a name, whatever it leads to.
    if (::lstat(target.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
        if (S_ISREG(status.st_mode) && (isReadOnly(status) || !isFree(target))) return refuse(Refusal::AccessDenied);
    }
    return ::rename(source.c_str(), target.c_str()) == 0;
}

bool isReadOnlyFile(const char* path) {
    struct stat status {};
    return ::stat(toNativePath(path).c_str(), &status) == 0 && !S_ISDIR(status.st_mode) && isReadOnly(status);
}

bool pathExists(const char* path) {
    struct stat status {};
    return ::stat(toNativePath(path).c_str(), &status) == 0;
}

void resolveFolder(const char* folder, ResolvedFolder& resolved) {
    resolved.length = 0;
    char path[PATH_MAX];
    if (::realpath(toNativePath(folder).c_str(), path) == nullptr) return;
    const size_t length = std::strlen(path);
    if (length > sizeof resolved.bytes) return;
    std::memcpy(resolved.bytes, path, length);
    resolved.length = static_cast<uint32_t>(length);
}

bool liesInside(const FileHandle& file, const ResolvedFolder& folder) {
    char path[PATH_MAX];
    if (folder.length == 0 || !descriptorPath(descriptor(file), path)) return false;
    const size_t length = std::strlen(path);
    // The folder "/" ends in its separator; any other is followed by one.
    const bool rooted = folder.bytes[folder.length - 1] == '/';
    return length > folder.length && std::memcmp(path, folder.bytes, folder.length) == 0 &&
           (rooted || path[folder.length] == '/');
}

bool isPlainFile(const FileHandle& file, const char* path) {
    struct stat opened {
    }, named{};
    return ::fstat(descriptor(file), &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1 &&
           ::lstat(toNativePath(path).c_str(), &named) == 0 && S_ISREG(named.st_mode) && sameFile(opened, named);
}

void deleteOpenFile(FileHandle& file) {
    char path[PATH_MAX];
    struct stat opened {
    }, named{};
    // Only the name that still holds this very file is removed.
    if (descriptorPath(descriptor(file), path) && ::fstat(descriptor(file), &opened) == 0 &&
        ::lstat(path, &named) == 0 && sameFile(opened, named)) {
        ::unlink(path);
    }
    file.close();
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
    constexpr int codes[] = {EACCES, EISDIR, EIO, ELOOP, EMLINK};
    return static_cast<uint32_t>(codes[static_cast<unsigned>(refusal)]);
}

bool refuse(Refusal refusal) {
    errno = static_cast<int>(refusalCode(refusal));
    return false;
}
