#include "tools/patchtool/build/patch_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/payload_archive.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/report.h"

namespace {

// Copies exactly `count` bytes; the file must neither end early nor hold more.
bool copyExactly(std::FILE* from, const std::string& fromPath, uint64_t count, PendingFile& to, uint8_t* buffer,
                 CheckValue* value, std::string& error) {
    while (count > 0) {
        const size_t wanted = count < fileChunkSize ? static_cast<size_t>(count) : fileChunkSize;
        const size_t moved = std::fread(buffer, 1, wanted, from);
        if (moved < wanted) {
            error = fromPath + (std::ferror(from) ? ": " + lastSystemError() : ": became shorter while being read");
            return false;
        }
        if (value != nullptr) value->update(buffer, static_cast<uint32_t>(moved));
        if (!to.write(buffer, moved, error)) return false;
        count -= moved;
    }
    if (std::fgetc(from) != EOF) {
        error = fromPath + ": grew while being read";
        return false;
    }
    return true;
}

// False, with the refusal in `error`, when the open file does not lie in `releaseFolder`: the name
// that led inside when the folder was read leads elsewhere now.
bool isWithinRelease(std::FILE* file, const std::string& path, const std::string& releaseFolder, std::string& error) {
    std::error_code failure;
    const std::filesystem::path folder = finalPath(fileSystemPath(releaseFolder), failure);
    const std::filesystem::path opened = failure ? std::filesystem::path() : finalPathOfOpenFile(file, failure);
    if (!failure && liesWithin(opened, folder)) return true;
    error = failure ? path + ": " + failure.message() : leadsOutside(path, opened);
    return false;
}

bool copyFile(const std::string& path, const std::string& releaseFolder, uint64_t expectedSize, PendingFile& to,
              uint8_t* buffer, CheckValue* value, std::string& error) {
    uint64_t size = 0;
    const OwnedFile from = openInputFile(path, size, error);
    if (!from) return false;
    if (!releaseFolder.empty() && !isWithinRelease(from.get(), path, releaseFolder, error)) return false;
    if (size == expectedSize) return copyExactly(from.get(), path, size, to, buffer, value, error);
    error = refused(path, refusal::changedWhileBuilding);
    return false;
}

}  // namespace

bool writePatch(const std::string& stubPath, uint64_t stubSize, const std::vector<uint8_t>& head,
                const std::vector<PlannedEntry>& entries, std::vector<VersionRecordSource> records, bool gatherRecords,
                PendingFile& patch, std::string& error) {
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    if (!copyFile(stubPath, "", stubSize, patch, buffer.get(), nullptr, error)) return false;
    const std::vector<uint8_t> padding(payloadOffset - stubSize, 0);
    if (!patch.write(padding.data(), padding.size(), error) || !patch.write(head.data(), head.size(), error)) {
        return false;
    }
    ProgressLine progress(buildCommandName);
    for (size_t i = 0; i < entries.size(); ++i) {
        const PlannedEntry& entry = entries[i];
        progress.show(i, entries.size(), entry.givenName);
        if (entry.generatedList) {
            const std::optional<std::vector<uint8_t>> list = makeVersionList(records);
            if (!list || list->size() != entry.size) {
                error = "the version list cannot be made from these names";
                return false;
            }
            if (!patch.write(list->data(), list->size(), error)) return false;
            continue;
        }
        CheckValue value;
        value.reset();
        if (!copyFile(entry.path, entry.releaseFolder, entry.size, patch, buffer.get(), &value, error)) return false;
        if (entry.recorded && std::memcmp(value.bytes(), entry.recorded->value.bytes(), checkValueSize) != 0) {
            error = changedWhileBuilding(entry.path, "check value");
            return false;
        }
        if (gatherRecords) {
            VersionRecordSource record{entry.name, {}};
            std::copy(value.bytes(), value.bytes() + checkValueSize, record.checkValue.begin());
            records.push_back(record);
        }
    }
    return true;
}
