#include "tools/patchtool/version_list_file.h"

#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "tools/patchtool/files.h"

bool readVersionListFile(const std::string& path, LoadedVersionList& loaded, std::string& error) {
    uint64_t size = 0;
    if (!openInputFile(path, size, error)) return false;
    FileHandle file;
    uint8_t header[versionListHeaderSize] = {};
    if (!openWithEngine(file, path, error)) return false;
    if (file.read(header, sizeof header) < sizeof header) {
        error = path + ": " + std::to_string(size) + " bytes, shorter than the 16-byte header";
        return false;
    }
    const VersionListVersion version = versionListVersionOf(header);
    if (version == VersionListVersion::None) {
        error = path + ": not a version list (the magic is neither QTS_V2__ nor QTS_____)";
        return false;
    }
    const uint32_t count = readU32(header + 12);
    const uint64_t bytes = uint64_t{count} * versionRecordLayout(version).recordSize;
    loaded.list.loadAt(file, 0);
    if (loaded.list.version == VersionListVersion::None) {
        error = path + ": the header counts " + std::to_string(count) + " records, which need " +
                std::to_string(bytes) + " bytes after the header; the file holds " +
                std::to_string(size - versionListHeaderSize);
        return false;
    }
    loaded.headerWord = readU32(header + 8);
    loaded.trailingBytes = size - versionListHeaderSize - bytes;
    return true;
}

const char* versionListLabel(VersionListVersion version) {
    switch (version) {
        case VersionListVersion::V2:
            return "v2";
        case VersionListVersion::V1:
            return "v1";
        case VersionListVersion::None:
            break;
    }
    return "none";
}
