#include "tools/patchtool/files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "tools/patchtool/report.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
bool regularFileSize(std::FILE* stream, uint64_t& size) {
    struct _stat64 status {};
    if (_fstat64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}
int createExclusive(const std::string& path) {
    return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
std::FILE* streamOf(int descriptor) { return _fdopen(descriptor, "wb"); }
unsigned processId() { return static_cast<unsigned>(_getpid()); }
bool syncToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }
bool terminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }
// Missing, or a plain file (not a folder, device or link) that a move may replace.
bool replaceableDestination(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES ||
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
}
bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}
#else
bool regularFileSize(std::FILE* stream, uint64_t& size) {
    struct stat status {};
    if (::fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}
int createExclusive(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
std::FILE* streamOf(int descriptor) { return ::fdopen(descriptor, "wb"); }
unsigned processId() { return static_cast<unsigned>(::getpid()); }
bool syncToDisk(std::FILE* stream) { return ::fsync(fileno(stream)) == 0; }
bool terminal(std::FILE* stream) { return ::isatty(fileno(stream)) != 0; }
// Missing, or a regular file (not a folder, device or symbolic link) that a rename may replace.
bool replaceableDestination(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode);
}
bool replaceFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
#endif

}  // namespace

bool isTerminal(std::FILE* stream) { return terminal(stream); }

std::FILE* openInputFile(const std::string& path, uint64_t& size, std::string& error) {
    errno = 0;
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        error = path + ": " + lastSystemError();
        return nullptr;
    }
    if (!regularFileSize(stream, size)) {
        std::fclose(stream);
        error = path + ": not a regular file";
        return nullptr;
    }
    return stream;
}

bool createPendingFile(const std::string& destination, PendingFile& pending, std::string& error) {
    // The finished file is moved over the destination, which would replace a link or a device
    // node itself rather than write through it.
    if (!replaceableDestination(destination)) {
        error = destination + ": exists and is not a regular file";
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = destination + "." + std::to_string(processId()) +
                                      (attempt > 0 ? "-" + std::to_string(attempt) : "") + ".tmp";
        errno = 0;
        const int descriptor = createExclusive(temporary);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            // The patch is first written beside its destination; name what the user typed.
            const std::string reason = lastSystemError();
            error = errno == ENOENT ? destination + ": the folder it goes into does not exist"
                                    : destination + ": cannot create " + temporary + ": " + reason;
            return false;
        }
        pending = {destination, temporary, streamOf(descriptor)};
        if (pending.stream == nullptr) {
            error = temporary + ": " + lastSystemError();
            std::remove(temporary.c_str());
            return false;
        }
        return true;
    }
    error = "no free temporary name beside " + destination;
    return false;
}

bool commitPendingFile(PendingFile& pending, std::string& error) {
    errno = 0;
    const bool flushed = std::fflush(pending.stream) == 0 && syncToDisk(pending.stream);
    if (!flushed) error = pending.temporary + ": " + lastSystemError();
    const bool closed = std::fclose(pending.stream) == 0;
    pending.stream = nullptr;
    if (flushed && !closed) error = pending.temporary + ": " + lastSystemError();
    if (flushed && closed) {
        errno = 0;
        if (replaceFile(pending.temporary, pending.destination)) return true;
        error = "cannot replace " + pending.destination + ": " + lastSystemError();
    }
    std::remove(pending.temporary.c_str());
    return false;
}

void discardPendingFile(PendingFile& pending) {
    if (pending.stream != nullptr) std::fclose(pending.stream);
    pending.stream = nullptr;
    std::remove(pending.temporary.c_str());
}
