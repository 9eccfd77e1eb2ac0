// The payload's version list: VersionList::loadFromArchive and findRecord on a patch whose
// version list entry holds the fuzzer's bytes.
//
// Input: a control byte (bit 0: legacy archive layout; bits 1-2: index position of the list among
// three entries; bit 3: give the list entry a name other than TLX.hvl), a u32 added to the list
// entry's offset, a u32 added to its size, then the list's bytes. Two small entries (a.arc and
// b.arc) sit in front of the list's bytes.
//
// Properties: the loaded records equal the reference reading (names cut at their field, check
// values, zero bytes after each name, the list empty for every problem); findRecord returns the
// first record whose last name component, lower-cased, equals the key, for the key of every
// record and for fixed keys; a found record is one of the list's own.
#include <cstring>

#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "engine/payload_archive.h"
#include "engine/version_list.h"
#include "formats/payload_archive_writer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference.h"

namespace {

void checkFind(const VersionList& list, const std::vector<ReferenceRecord>& reference, const std::string& key) {
    const std::optional<size_t> expected = referenceFindRecord(reference, key);
    const VersionRecord* found = list.findRecord(key.c_str());
    if (!expected) {
        FUZZ_CHECK(found == nullptr, "findRecord(%s) found a record, expected none", printable(key).c_str());
        return;
    }
    FUZZ_CHECK(found == &list.records[*expected], "findRecord(%s) did not give record %zu", printable(key).c_str(),
               *expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input{data, size};
    const uint8_t control = input.byte();
    const uint32_t offsetDelta = input.u32();
    const uint32_t sizeDelta = input.u32();
    const Bytes list = input.rest();

    const ArchiveLayout layout = control & 1 ? ArchiveLayout::Legacy : ArchiveLayout::Current;
    const uint32_t listPosition = (control >> 1) % 3;
    std::vector<PayloadEntryShape> shapes = {{"a.arc", 3}, {"b.arc", 5}};
    shapes.insert(shapes.begin() + listPosition,
                  {control & 8 ? "TLX.hv" : "TLX.hvl", static_cast<uint32_t>(list.size())});
    std::optional<Bytes> head = makePayloadArchiveHead(shapes, layout);
    FUZZ_CHECK(head.has_value(), "cannot write the archive head");
    // Damage the list entry's offset and size as the input asks.
    const uint32_t entrySize = layoutInfo(layout).entrySize;
    uint8_t* field = head->data() + archiveHeaderSize + listPosition * entrySize + layoutInfo(layout).nameField;
    const uint32_t offset = readU32(field) + offsetDelta;
    writeArchiveIndexEntry(head->data() + archiveHeaderSize + listPosition * entrySize, layout,
                           shapes[listPosition].name, offset, static_cast<uint32_t>(list.size()) + sizeDelta);

    Bytes tail = *head;
    for (uint32_t i = 0; i < shapes.size(); ++i) {
        if (i == listPosition) {
            tail.insert(tail.end(), list.begin(), list.end());
        } else {
            tail.insert(tail.end(), shapes[i].size, static_cast<uint8_t>('a' + i));
        }
    }
    const PatchImage image = patchWithPayload(std::move(tail));
    const std::string path = scratchRoot() + "/patch.bin";
    writePatch(path, image);

    FileHandle file;
    FUZZ_CHECK(file.openRead(path.c_str()), "cannot open the patch");
    PayloadArchive archive;
    FUZZ_CHECK(archive.open(file) == Ok, "the archive does not open");
    const ReferenceArchive referenceArchive = referenceOpenArchive(image);

    VersionList versions;
    const std::optional<uint32_t> listIndex = archive.findEntry("tlx.hvl");
    FUZZ_CHECK(listIndex.has_value() == !(control & 8), "findEntry(tlx.hvl) is wrong");
    // Without a list entry the run does not load; the list must stay empty.
    if (listIndex) versions.loadFromArchive(file, archive, *listIndex);
    const std::vector<ReferenceRecord> reference =
        listIndex ? referenceLoadVersionList(image, referenceArchive, *listIndex) : std::vector<ReferenceRecord>{};

    FUZZ_CHECK(versions.count == reference.size(), "loaded %u records, expected %zu", versions.count, reference.size());
    for (uint32_t i = 0; i < versions.count; ++i) {
        const VersionRecord& record = versions.records[i];
        FUZZ_CHECK(record.name == reference[i].name, "record %u name %s, expected %s", i,
                   printable(record.name).c_str(), printable(reference[i].name).c_str());
        FUZZ_CHECK(std::memcmp(record.checkValue, reference[i].checkValue.data(), checkValueSize) == 0,
                   "record %u check value", i);
        for (size_t b = reference[i].name.size(); b < sizeof record.name; ++b) {
            FUZZ_CHECK(record.name[b] == '\0', "record %u has a non-zero byte after its name", i);
        }
    }

    for (const ReferenceRecord& record : reference) {
        checkFind(versions, reference, referenceLower(referenceLastComponent(record.name)));
    }
    for (const char* key : {"tlx.hvl", "tlx.exe", "a.arc", ""}) checkFind(versions, reference, key);
    return 0;
}
