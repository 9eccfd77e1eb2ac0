// The file-system calls on POSIX, keeping the Win32 contract: a file without any write permission
// bit stands for a read-only file (refused as a move target or for deletion, even to root), and a
// file locked by a FileHandle cannot be replaced. What is refused here gets the code of a refusal.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "engine/file_system.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/posix/native_path.h"

namespace {

bool isReadOnly(const struct stat& status) { return (status.st_mode & 0222) == 0; }

// True when no FileHandle holds the file: an exclusive lock can be taken (and is let go at once).
bool isFree(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

}  // namespace

bool setAttributesNormal(const char* path) {
    const std::string native = toNativePath(path);
    struct stat status {};
    if (::stat(native.c_str(), &status) != 0) return false;
    if (S_ISDIR(status.st_mode)) return true;
    return ::chmod(native.c_str(), (status.st_mode & 07777) | S_IWUSR) == 0;
}

bool moveReplacing(const char* from, const char* to) {
    if (VENNHOLT_FAULT_EFFECT(Move) != FaultEffect::None) return false;
    const std::string source = toNativePath(from);
    const std::string target = toNativePath(to);
    struct stat status {};
    if (::stat(source.c_str(), &status) != 0) return false;
    if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
    if (::stat(target.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
        if (isReadOnly(status) || !isFree(target)) return refuse(Refusal::AccessDenied);
    }
    return ::rename(source.c_str(), target.c_str()) == 0;
}

bool deleteFile(const char* path) {
    const std::string native = toNativePath(path);
    struct stat status {};
    if (::lstat(native.c_str(), &status) != 0) return false;
    if (S_ISDIR(status.st_mode)) return refuse(Refusal::Folder);
    if (isReadOnly(status)) return refuse(Refusal::AccessDenied);
    return ::unlink(native.c_str()) == 0;
}

bool isReadOnlyFile(const char* path) {
    struct stat status {};
    return ::stat(toNativePath(path).c_str(), &status) == 0 && !S_ISDIR(status.st_mode) && isReadOnly(status);
}

bool pathExists(const char* path) {
    struct stat status {};
    return ::stat(toNativePath(path).c_str(), &status) == 0;
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
    constexpr int codes[] = {EACCES, EISDIR, EIO};
    return static_cast<uint32_t>(codes[static_cast<unsigned>(refusal)]);
}

bool refuse(Refusal refusal) {
    errno = static_cast<int>(refusalCode(refusal));
    return false;
}
