#include "engine/version_list.h"

#include <cstring>
#include <new>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/folder_walk.h"
#include "engine/installed_list.h"
#include "engine/list_rewrite.h"
#include "engine/little_endian.h"
#include "engine/payload_archive.h"

namespace {

// The byte size of `count` records, or 0 with false when it does not fit 32 bits.
bool recordBlockSize(uint32_t count, VersionRecordLayout layout, uint32_t& bytes) {
    const uint64_t wanted = static_cast<uint64_t>(count) * layout.recordSize;
    if (wanted > 0xFFFFFFFFull) return false;
    bytes = static_cast<uint32_t>(wanted);
    return true;
}

// Whether a file of `fileSize` bytes can hold `bytes` more bytes from `position` on. A block that
// cannot be there would come back short anyway; refusing it first spares allocating for a count
// that a damaged header made huge.
bool fileCanHold(uint32_t fileSize, uint64_t position, uint32_t bytes) {
    return position <= fileSize && bytes <= fileSize - position;
}

// A name field cut at its width when it holds no NUL.
void copyNameField(char* destination, const uint8_t* field, uint32_t width) {
    uint32_t length = 0;
    while (length < width && field[length] != 0) ++length;
    std::memcpy(destination, field, length);
    destination[length] = '\0';
}

struct InstalledList {
    uint8_t header[versionListHeaderSize];
    VersionRecordLayout layout;
    uint32_t count;
    std::unique_ptr<uint8_t[]> block;
};

enum class ListReading : uint8_t { Read, NotAList, Failed };

ListReading failedReading(RewriteFailure* failure) {
    failedCall(failure);
    return ListReading::Failed;
}

// Reads the installed list's header and records. NotAList when the file is shorter than a header,
// of neither version, or cannot hold the records its count names: there is nothing to prune.
// Failed, with the code of the call that failed, when the file cannot be opened, is a link, a file
// other names share or read-only (Windows would refuse to replace it, so it stays as it is), a read
// fails, or memory for the records runs out.
ListReading readInstalledList(const FolderHandle& folder, InstalledList& list, RewriteFailure* failure) {
    FileHandle file;
    if (!openInstalledList(file, folder, versionListName)) return failedReading(failure);
    clearSystemErrorCode();
    if (file.read(list.header, sizeof list.header) < sizeof list.header) {
        return systemErrorCode() == 0 ? ListReading::NotAList : failedReading(failure);
    }
    const VersionListVersion version = versionListVersionOf(list.header);
    if (version == VersionListVersion::None) return ListReading::NotAList;
    list.layout = versionRecordLayout(version);
    list.count = readU32(list.header + 12);
    uint32_t bytes = 0;
    if (!recordBlockSize(list.count, list.layout, bytes)) return ListReading::NotAList;
    if (!fileCanHold(file.size(), versionListHeaderSize, bytes)) return ListReading::NotAList;
    if (bytes == 0) return ListReading::Read;
    list.block.reset(new (std::nothrow) uint8_t[bytes]);
    if (!list.block) return ListReading::Failed;
    clearSystemErrorCode();
    if (file.read(list.block.get(), bytes) != bytes) return failedReading(failure);
    return ListReading::Read;
}

// Moves the kept records to the front of the block and returns their number.
uint32_t keepPresentRecords(const FolderHandle& installFolder, InstalledList& list) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < list.count; ++i) {
        uint8_t* record = list.block.get() + static_cast<size_t>(i) * list.layout.recordSize;
        char name[versionRecordLayoutV2.nameField + 1];
        copyNameField(name, record, list.layout.nameField);
        if (namePresence(installFolder, name) == NamePresence::Missing) continue;
        if (kept != i) {
            std::memcpy(list.block.get() + static_cast<size_t>(kept) * list.layout.recordSize, record,
                        list.layout.recordSize);
        }
        ++kept;
    }
    return kept;
}

}  // namespace

VersionListVersion versionListVersionOf(const uint8_t* magic) {
    if (std::memcmp(magic, versionListMagicV2, sizeof versionListMagicV2) == 0) return VersionListVersion::V2;
    if (std::memcmp(magic, versionListMagicV1, sizeof versionListMagicV1) == 0) return VersionListVersion::V1;
    return VersionListVersion::None;
}

const char* lastNameComponent(const char* name, const CodePage& codePage) {
    const char* rest = name;
    if (rest[0] != '\0' && rest[1] == ':') rest += 2;
    const char* component = rest;
    for (const char* p = rest; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') {
            component = p + 1;
        } else if (codePage.isLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0') break;
            ++p;
        }
    }
    return component;
}

void VersionList::clear() {
    version = VersionListVersion::None;
    count = 0;
    records.reset();
}

void VersionList::loadFromArchive(FileHandle& executable, const PayloadArchive& archive, uint32_t entryIndex) {
    clear();
    if (entryIndex >= archive.entryCount() || !archive.isEntryReachable(entryIndex)) return;
    loadAt(executable, archive.dataPosition(entryIndex));
}

void VersionList::loadAt(FileHandle& executable, uint32_t position) {
    clear();
    if (!executable.seek(position)) return;
    uint8_t header[versionListHeaderSize];
    if (executable.read(header, sizeof header) < sizeof header) return;

    const VersionListVersion found = versionListVersionOf(header);
    if (found == VersionListVersion::None) return;
    const VersionRecordLayout layout = versionRecordLayout(found);
    const uint32_t recordCount = readU32(header + 12);
    uint32_t bytes = 0;
    if (!recordBlockSize(recordCount, layout, bytes)) return;
    if (!fileCanHold(executable.size(), static_cast<uint64_t>(position) + versionListHeaderSize, bytes)) return;

    std::unique_ptr<uint8_t[]> block;
    std::unique_ptr<VersionRecord[]> widened;
    if (recordCount > 0) {
        block.reset(new (std::nothrow) uint8_t[bytes]);
        widened.reset(new (std::nothrow) VersionRecord[recordCount]);
        if (!block || !widened || executable.read(block.get(), bytes) != bytes) return;
    }
    for (uint32_t i = 0; i < recordCount; ++i) {
        const uint8_t* field = block.get() + static_cast<size_t>(i) * layout.recordSize;
        VersionRecord& record = widened[i];
        std::memset(record.name, 0, sizeof record.name);
        copyNameField(record.name, field, layout.nameField);
        std::memcpy(record.checkValue, field + layout.nameField, checkValueSize);
    }
    version = found;
    count = recordCount;
    records = std::move(widened);
}

const VersionRecord* VersionList::findRecord(const char* lowerEntryName, const CodePage& codePage) const {
    for (uint32_t i = 0; i < count; ++i) {
        if (nameEqualsLowerKey(lastNameComponent(records[i].name, codePage), lowerEntryName, codePage)) {
            return &records[i];
        }
    }
    return nullptr;
}

std::optional<uint32_t> findVersionListEntry(const PayloadArchive& archive, const CodePage& codePage) {
    char key[sizeof versionListName];
    std::memcpy(key, versionListName, sizeof key);
    codePage.lowerCaseName(key);
    return archive.findEntry(key, codePage);
}

bool VersionList::pruneInstalled(const FolderHandle& installFolder, RewriteFailure* failure) {
    if (failure != nullptr) *failure = {};
    NameState state{};
    // A missing list leaves nothing to prune and nothing failed.
    if (inspectName(installFolder, versionListName, state) && state.kind == NameKind::Missing) return true;
    InstalledList list{};
    const ListReading reading = readInstalledList(installFolder, list, failure);
    if (reading != ListReading::Read) return reading == ListReading::NotAList;
    const uint32_t kept = keepPresentRecords(installFolder, list);
    uint8_t header[versionListHeaderSize];
    std::memcpy(header, list.header, sizeof header);
    writeU32(header + 12, kept);
    return replaceInstalledList(installFolder, versionListName, versionListPruneName,
                                {{header, sizeof header}, {list.block.get(), kept * list.layout.recordSize}}, failure);
}

bool VersionList::pruneInstalled(const char* installFolder) {
    FolderHandle folder;
    return !openFolder(folder, installFolder) || pruneInstalled(folder);
}
