// The payload archive's header and index: PayloadArchive::open and findEntry on a patch file whose
// payload region holds the fuzzer's bytes.
//
// Input: one control byte (bit 0: make the file shorter than 0x60000, by the next byte), then the
// bytes from 0x60000 on.
//
// Properties: the result, layout, count, data base and every entry's name, offset and size equal
// the reference reading; dataPosition wraps in 32 bits and isEntryReachable says exactly whether
// the entry's bytes lie below 2^32; findEntry returns the first entry whose lower-cased name equals
// the key, for the key of every entry and for a key taken from the input, and never changes the
// index.
#include <cstring>

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference.h"

namespace {

void checkFind(const PayloadArchive& archive, const ReferenceArchive& reference, const std::string& key) {
    std::optional<uint32_t> expected;
    for (uint32_t i = 0; i < reference.entries.size() && !expected; ++i) {
        if (referenceLower(reference.entries[i].name) == key) expected = i;
    }
    const std::optional<uint32_t> found = archive.findEntry(key.c_str());
    FUZZ_CHECK(found == expected, "findEntry(%s) gave %d, expected %d", printable(key).c_str(),
               found ? static_cast<int>(*found) : -1, expected ? static_cast<int>(*expected) : -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input{data, size};
    const uint8_t control = input.byte();
    PatchImage image;
    if (control & 1) {
        image.length = payloadOffset - 1 - input.byte();
    } else {
        image = patchWithPayload(input.rest());
    }
    const std::string path = scratchRoot() + "/patch.bin";
    writePatch(path, image);

    FileHandle file;
    FUZZ_CHECK(file.openRead(path.c_str()), "cannot open the patch");
    PayloadArchive archive;
    const UpdateResult result = archive.open(file);
    const ReferenceArchive reference = referenceOpenArchive(image);
    FUZZ_CHECK(result == reference.result, "open gave 0x%08X, expected 0x%08X", result, reference.result);
    if (result != Ok) return 0;

    FUZZ_CHECK(archive.entryCount() == reference.entries.size(), "count %u, expected %zu", archive.entryCount(),
               reference.entries.size());
    FUZZ_CHECK(archive.layout == reference.layout, "layout differs");
    FUZZ_CHECK(archive.dataBase() == reference.base, "data base 0x%X, expected 0x%X", archive.dataBase(),
               reference.base);
    for (uint32_t i = 0; i < archive.entryCount(); ++i) {
        const ArchiveEntry entry = archive.entry(i);
        const ReferenceEntry& expected = reference.entries[i];
        FUZZ_CHECK(entry.name == expected.name, "entry %u name %s, expected %s", i, printable(entry.name).c_str(),
                   printable(expected.name).c_str());
        FUZZ_CHECK(entry.offset == expected.offset && entry.size == expected.size, "entry %u offset/size differ", i);
        FUZZ_CHECK(archive.dataPosition(i) == static_cast<uint32_t>(reference.base + expected.offset),
                   "entry %u data position", i);
        FUZZ_CHECK(archive.isEntryReachable(i) == referenceEntryPosition(reference, i).has_value(),
                   "entry %u reachability", i);
    }

    for (const ReferenceEntry& entry : reference.entries) checkFind(archive, reference, referenceLower(entry.name));
    checkFind(archive, reference, "tlx.hvl");
    // A key of the input's last bytes, lower-cased as the run's keys are.
    if (!image.tail.empty()) {
        const size_t length = image.tail.size() < 20 ? image.tail.size() : 20;
        checkFind(archive, reference, referenceLower(std::string(image.tail.end() - length, image.tail.end()).c_str()));
    }
    // The lookups left the index as it was read.
    for (uint32_t i = 0; i < archive.entryCount(); ++i) {
        FUZZ_CHECK(archive.entry(i).name == reference.entries[i].name, "findEntry changed entry %u", i);
    }
    return 0;
}
