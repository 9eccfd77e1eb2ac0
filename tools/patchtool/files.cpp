#include "tools/patchtool/files.h"

#include <cerrno>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"

OwnedFile openInputFile(const std::string& path, uint64_t& size, std::string& error) {
    errno = 0;
    OwnedFile stream(openFile(path, "rb"));
    if (!stream) {
        error = path + ": " + lastSystemError();
    } else if (!regularFileSize(stream.get(), size)) {
        error = path + ": not a regular file";
        stream.reset();
    }
    return stream;
}

bool foldStream(std::FILE* stream, CheckValue& value, uint8_t* buffer) {
    value.reset();
    for (;;) {
        const size_t moved = std::fread(buffer, 1, fileChunkSize, stream);
        value.update(buffer, static_cast<uint32_t>(moved));
        if (moved < fileChunkSize) return std::ferror(stream) == 0;
    }
}

bool foldFileBytes(FileHandle& file, uint32_t count, CheckValue& value, uint8_t* buffer) {
    value.reset();
    for (uint32_t done = 0; done < count;) {
        const uint32_t chunk = count - done < fileChunkSize ? count - done : fileChunkSize;
        if (file.read(buffer, chunk) != chunk) return false;
        value.update(buffer, chunk);
        done += chunk;
    }
    return true;
}

bool checkValueOfFile(const std::string& path, CheckValue& value, uint8_t* buffer, std::string& error) {
    uint64_t size = 0;
    const OwnedFile file = openInputFile(path, size, error);
    if (!file) return false;
    errno = 0;
    if (foldStream(file.get(), value, buffer)) return true;
    error = path + ": " + lastSystemError();
    return false;
}

bool openWithEngine(FileHandle& file, const std::string& path, std::string& error) {
    const std::optional<std::string> enginePath = engineFilePath(path);
    if (!enginePath) {
        error = path + ": this system's code page cannot name it";
        return false;
    }
    clearSystemErrorCode();
    if (file.openRead(enginePath->c_str())) return true;
    error = path + ": " + (systemErrorCode() != 0 ? describeSystemError(systemErrorCode()) : "cannot be opened");
    return false;
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() {
    if (temporary_.empty()) return;
    stream_.reset();
    removeFile(temporary_);
    temporary_.clear();
}

bool PendingFile::create(const std::string& destination, std::string& error) {
    // The finished file is moved over the destination, which would replace a link or a device
    // node itself rather than write through it.
    if (!isReplaceableDestination(destination)) {
        error = destination + ": exists and is not a regular file";
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = destination + "." + std::to_string(processId()) +
                                      (attempt > 0 ? "-" + std::to_string(attempt) : "") + ".tmp";
        errno = 0;
        stream_.reset(createExclusiveFile(temporary));
        if (stream_) {
            destination_ = destination;
            temporary_ = temporary;
            return true;
        }
        if (errno == EEXIST) continue;
        // The file is first written beside its destination; name what the user typed.
        error = errno == ENOENT ? destination + ": the folder it goes into does not exist"
                                : destination + ": cannot create " + temporary + ": " + lastSystemError();
        return false;
    }
    error = "no free temporary name beside " + destination;
    return false;
}

bool PendingFile::write(const void* bytes, size_t count, std::string& error) {
    errno = 0;
    if (count == 0 || std::fwrite(bytes, 1, count, stream_.get()) == count) return true;
    error = temporary_ + ": " + lastSystemError();
    return false;
}

bool PendingFile::commit(std::string& error) {
    errno = 0;
    const bool flushed = std::fflush(stream_.get()) == 0 && syncToDisk(stream_.get());
    if (!flushed) error = temporary_ + ": " + lastSystemError();
    const bool closed = std::fclose(stream_.release()) == 0;
    if (flushed && !closed) error = temporary_ + ": " + lastSystemError();
    if (flushed && closed) {
        errno = 0;
        if (moveOver(temporary_, destination_)) {
            temporary_.clear();
            return true;
        }
        error = "cannot replace " + destination_ + ": " + lastSystemError();
    }
    discard();
    return false;
}
