#include "fuzz/reference.h"

#include <algorithm>
#include <cstring>

#include "engine/code_page.h"
#include "engine/file_system.h"

namespace {

uint32_t u32At(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

std::string fieldName(const uint8_t* field, size_t width) {
    size_t length = 0;
    while (length < width && field[length] != 0) ++length;
    return std::string(reinterpret_cast<const char*>(field), length);
}

bool isLead(char c) { return isLeadByte(static_cast<unsigned char>(c)); }

// The record size and name width a version list's magic selects.
std::optional<std::pair<uint32_t, uint32_t>> versionLayout(const Bytes& header) {
    if (std::memcmp(header.data(), "QTS_V2__", 8) == 0) return std::pair<uint32_t, uint32_t>{256, 248};
    if (std::memcmp(header.data(), "QTS_____", 8) == 0) return std::pair<uint32_t, uint32_t>{64, 56};
    return std::nullopt;
}

}  // namespace

ReferenceArchive referenceOpenArchive(const PatchImage& image) {
    ReferenceArchive archive;
    if (image.length < payloadOffset) return archive;
    const std::optional<Bytes> header = image.slice(payloadOffset, 16);
    if (!header) return archive;
    const uint32_t count = u32At(*header, 12);
    if (count > 32) {
        archive.result = TooManyEntries;
        return archive;
    }
    const bool current = std::memcmp(header->data(), "PELMAR ARC20", 12) == 0;
    const uint32_t entrySize = current ? 128 : 32;
    const uint32_t nameWidth = current ? 96 : 16;
    const std::optional<Bytes> index = image.slice(payloadOffset + 16, uint64_t{count} * entrySize);
    if (!index) return archive;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* field = index->data() + size_t{i} * entrySize;
        archive.entries.push_back({fieldName(field, nameWidth), u32At(*index, i * entrySize + nameWidth),
                                   u32At(*index, i * entrySize + nameWidth + 4)});
    }
    archive.result = Ok;
    archive.layout = current ? ArchiveLayout::Current : ArchiveLayout::Legacy;
    archive.base = payloadOffset + 16 + count * entrySize;
    return archive;
}

std::optional<uint32_t> referenceEntryPosition(const ReferenceArchive& archive, uint32_t i) {
    const ReferenceEntry& entry = archive.entries[i];
    const uint64_t first = uint64_t{archive.base} + entry.offset;
    if (first + entry.size > 0x100000000ull || first > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(first);
}

std::optional<Bytes> referenceEntryBytes(const PatchImage& image, const ReferenceArchive& archive, uint32_t i) {
    const std::optional<uint32_t> position = referenceEntryPosition(archive, i);
    // Positions from 2^31 on cannot be reached by a seek.
    if (!position || *position > 0x7FFFFFFFu) return std::nullopt;
    // An empty entry is never read, so it may lie anywhere a seek reaches, past the end too.
    if (archive.entries[i].size == 0) return Bytes{};
    return image.slice(*position, archive.entries[i].size);
}

std::vector<ReferenceRecord> referenceLoadVersionList(const PatchImage& image, const ReferenceArchive& archive,
                                                      uint32_t i) {
    const std::optional<uint32_t> position = referenceEntryPosition(archive, i);
    // Positions from 2^31 on cannot be reached by a seek.
    if (!position || *position > 0x7FFFFFFFu) return {};
    const std::optional<Bytes> header = image.slice(*position, 16);
    if (!header) return {};
    const auto layout = versionLayout(*header);
    if (!layout) return {};
    const auto [recordSize, nameWidth] = *layout;
    const uint32_t count = u32At(*header, 12);
    const std::optional<Bytes> block = image.slice(uint64_t{*position} + 16, uint64_t{count} * recordSize);
    if (!block) return {};
    std::vector<ReferenceRecord> records;
    for (uint32_t r = 0; r < count; ++r) {
        const uint8_t* field = block->data() + size_t{r} * recordSize;
        ReferenceRecord record;
        record.name = fieldName(field, nameWidth);
        std::copy(field + nameWidth, field + nameWidth + 8, record.checkValue.begin());
        records.push_back(std::move(record));
    }
    return records;
}

std::string referenceLastComponent(const std::string& name) {
    size_t start = name.size() >= 2 && name[1] == ':' ? 2 : 0;
    size_t component = start;
    for (size_t i = start; i < name.size(); ++i) {
        if (name[i] == '\\' || name[i] == '/') {
            component = i + 1;
        } else if (isLead(name[i])) {
            ++i;  // its trail byte, if any
        }
    }
    return name.substr(std::min(component, name.size()));
}

std::string referenceLower(const std::string& name) {
    std::vector<char> copy(name.begin(), name.end());
    copy.push_back('\0');
    lowerCaseName(copy.data());
    return std::string(copy.data());
}

std::optional<size_t> referenceFindRecord(const std::vector<ReferenceRecord>& records, const std::string& lowerName) {
    for (size_t i = 0; i < records.size(); ++i) {
        if (referenceLower(referenceLastComponent(records[i].name)) == lowerName) return i;
    }
    return std::nullopt;
}

std::optional<Bytes> referencePrune(const Bytes& list, const std::string& folder) {
    if (list.size() < 16) return std::nullopt;
    const Bytes header(list.begin(), list.begin() + 16);
    const auto layout = versionLayout(header);
    if (!layout) return std::nullopt;
    const auto [recordSize, nameWidth] = *layout;
    const uint32_t count = u32At(header, 12);
    if (uint64_t{count} * recordSize > list.size() - 16) return std::nullopt;
    Bytes kept;
    uint32_t keptCount = 0;
    for (uint32_t r = 0; r < count; ++r) {
        const uint8_t* record = list.data() + 16 + size_t{r} * recordSize;
        const std::string path = folder + "\\" + fieldName(record, nameWidth);
        if (path.size() >= 260) return std::nullopt;
        if (!pathExists(path.c_str())) continue;
        kept.insert(kept.end(), record, record + recordSize);
        ++keptCount;
    }
    Bytes result = header;
    result[12] = static_cast<uint8_t>(keptCount);
    result[13] = static_cast<uint8_t>(keptCount >> 8);
    result[14] = static_cast<uint8_t>(keptCount >> 16);
    result[15] = static_cast<uint8_t>(keptCount >> 24);
    result.insert(result.end(), kept.begin(), kept.end());
    return result;
}

namespace {

// Half a double-byte character at the end of a line or name is dropped.
std::string withoutHalfCharacter(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (isLead(text[i])) {
            if (i + 1 == text.size()) return text.substr(0, i);
            ++i;
        }
    }
    return text;
}

void appendNew(std::vector<std::string>& list, const std::string& text) {
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(text);
}

}  // namespace

ReferenceUninstall referenceParseUninstall(const std::string& whole) {
    const std::string text = whole.substr(0, whole.find('\0'));
    ReferenceUninstall lists;
    size_t p = 0;
    while (p < text.size()) {
        while (p < text.size() && (text[p] == ' ' || text[p] == '\t')) ++p;
        const size_t start = p;
        while (p < text.size() && text[p] != '\r' && text[p] != '\n') {
            p += isLead(text[p]) && p + 1 < text.size() ? 2 : 1;
        }
        const std::string raw = withoutHalfCharacter(text.substr(start, p - start));
        if (!raw.empty()) {
            const std::string line = referenceLower(raw);
            appendNew(!line.empty() && line[0] == '$' ? lists.dollar : lists.plain, line);
        }
        while (p < text.size() && (text[p] == '\r' || text[p] == '\n')) ++p;
    }
    return lists;
}

void referenceAddNames(ReferenceUninstall& lists, const std::vector<std::string>& names) {
    for (const std::string& name : names) appendNew(lists.plain, referenceLower(withoutHalfCharacter(name)));
}

Bytes referenceWriteUninstall(const ReferenceUninstall& lists) {
    Bytes bytes;
    for (const auto* list : {&lists.plain, &lists.dollar}) {
        for (const std::string& line : *list) {
            bytes.insert(bytes.end(), line.begin(), line.end());
            bytes.push_back('\n');
        }
    }
    bytes.push_back('\0');
    return bytes;
}

std::optional<Bytes> referenceMerge(const std::optional<Bytes>& file, const std::vector<std::string>& names) {
    if (!file || file->empty()) return std::nullopt;
    ReferenceUninstall lists = referenceParseUninstall(std::string(file->begin(), file->end()));
    referenceAddNames(lists, names);
    return referenceWriteUninstall(lists);
}
