#pragma once
// patchtool's own file plumbing, with paths taken as the operating system takes them: input files
// opened with their size known and closed by their owner, whole files folded into check values,
// and output written under a temporary name beside its destination and moved over it only once
// complete, so that a failed or interrupted run never leaves a partial file under the
// destination's name.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "engine/check_value.h"

class FileHandle;

// Files are read and copied in chunks of this size, never whole.
inline constexpr uint32_t fileChunkSize = 1u << 20;

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using OwnedFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for binary reading and tells its size. Empty, with a reason in `error`,
// when the file is missing, unreadable or not a regular file.
OwnedFile openInputFile(const std::string& path, uint64_t& size, std::string& error);

// Folds everything left in `stream` into `value`, chunk by chunk through `buffer` (fileChunkSize
// bytes). False, with errno telling why, when a read fails.
bool foldStream(std::FILE* stream, CheckValue& value, uint8_t* buffer);
// Folds the next `count` bytes of a file opened by the updater's own file object into `value`, as
// the updater reads them. False when they cannot all be read.
bool foldFileBytes(FileHandle& file, uint32_t count, CheckValue& value, uint8_t* buffer);
// The check value of a whole file. False, with a reason in `error`, when it cannot be read.
bool checkValueOfFile(const std::string& path, CheckValue& value, uint8_t* buffer, std::string& error);

// Opens `path` for reading with the updater's own file object, as the updater would open it (on
// Windows through the system's code page). False, with a reason in `error`, when it cannot.
bool openWithEngine(FileHandle& file, const std::string& path, std::string& error);

// A file being written beside its destination. Until it is committed it is discarded when its
// owner goes: closed and removed, the destination left as it was.
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    // Creates a fresh temporary file beside `destination`. False, with a reason in `error`, also
    // when the destination exists but is no regular file (a folder, a device, a symbolic link).
    bool create(const std::string& destination, std::string& error);
    // Writes `count` bytes; false, with a reason in `error`, when not all were stored.
    bool write(const void* bytes, size_t count, std::string& error);
    // Flushes the data to the disk, closes the file and moves it over the destination in one step.
    // On failure the temporary file is removed and the destination is left as it was.
    bool commit(std::string& error);

    std::FILE* stream() const { return stream_.get(); }

private:
    void discard();

    std::string destination_;
    std::string temporary_;
    OwnedFile stream_;
};
