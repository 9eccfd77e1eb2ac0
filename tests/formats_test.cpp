// The payload archive and the version list read from bytes written here by hand, not by formats/,
// so that a fault shared by a reader and its writer cannot hide; and the pruning of the installed
// list. Hostile bytes are the fuzz targets' part; failed rewrites the update run's fault test's.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "engine/version_list.h"
#include "tests/support/folder.h"

namespace {

void put(Bytes& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> 8 * i));
}
void put(Bytes& bytes, const std::string& field, size_t width) {
    bytes.insert(bytes.end(), field.begin(), field.end());
    bytes.resize(bytes.size() + width - field.size());
}

// Zero bytes up to 0x60000, the header and the index: 128-byte entries under "PELMAR ARC20", 32-byte
// ones under any other magic; each entry's offset and size follow from `sizes`. Then `data`.
Bytes patch(const std::string& magic, const std::vector<std::pair<std::string, uint32_t>>& index,
            const Bytes& data = {}) {
    Bytes bytes(0x60000);
    put(bytes, magic, 12);
    put(bytes, static_cast<uint32_t>(index.size()));
    uint32_t offset = 0;
    for (const auto& [name, size] : index) {
        put(bytes, name, magic == "PELMAR ARC20" ? 96 : 16);
        put(bytes, offset);
        put(bytes, size);
        put(bytes, "", magic == "PELMAR ARC20" ? 24 : 8);
        offset += size;
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// A version list with the header word 0xBEEF and, per name, its field (248 bytes under "QTS_V2__",
// 56 otherwise) and a check value of eight copies of the byte after the name's first.
Bytes versionList(const std::string& magic, const std::vector<std::string>& names) {
    Bytes bytes;
    put(bytes, magic, 8);
    put(bytes, 0xBEEF);
    put(bytes, static_cast<uint32_t>(names.size()));
    for (const std::string& name : names) {
        put(bytes, name, magic == "QTS_V2__" ? 248 : 56);
        put(bytes, std::string(8, static_cast<char>(name[0] + 1)), 8);
    }
    return bytes;
}

struct FormatsTest : testing::Test {
    TempFolder folder;
    FileHandle executable;
    PayloadArchive archive;

    UpdateResult open(const Bytes& image) {
        executable.close();
        writeFile(folder.file("setup.exe"), image);
        EXPECT_TRUE(executable.openRead(folder.file("setup.exe").c_str()));
        return archive.open(executable);
    }
};

TEST_F(FormatsTest, ArchivesOfBothLayoutsHoldUpTo32Entries) {
    for (const auto& [magic, entrySize, nameField] :
         {std::tuple{"PELMAR ARC20", 128u, 96}, {"pelmar arc20", 32u, 16}}) {
        // The last name fills its whole field and is cut at the field's end.
        const std::vector<std::pair<std::string, uint32_t>> index = {
            {"a.arc", 4}, {"Sub\\B.ARC", 2}, {std::string(nameField, 'n'), 1}};
        ASSERT_EQ(open(patch(magic, index)), Ok);
        EXPECT_EQ(archive.layout, entrySize == 128 ? ArchiveLayout::Current : ArchiveLayout::Legacy);
        for (uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(archive.entry(i).name, index[i].first);
            EXPECT_EQ(archive.entry(i).size, index[i].second);
            EXPECT_EQ(archive.dataPosition(i), 0x60010 + 3 * entrySize + (i == 0 ? 0 : i == 1 ? 4 : 6));
        }
        EXPECT_EQ(archive.findEntry("sub\\b.arc"), 1u);
    }
    std::vector<std::pair<std::string, uint32_t>> index(32, {"x", 0});
    EXPECT_EQ(open(patch("PELMAR ARC20", index)), Ok);
    index.push_back({"x", 0});
    EXPECT_EQ(open(patch("PELMAR ARC20", index)), TooManyEntries);
    EXPECT_EQ(open(patch("xxxxxxxxxxxx", index)), TooManyEntries);
}

TEST_F(FormatsTest, VersionListsOfBothVersionsMatchEntriesByTheirLastComponent) {
    const std::string odd("a.arc\0\xEE", 7);  // a byte after the NUL is no part of the name
    for (const auto& [magic, version, nameField] :
         {std::tuple{"QTS_V2__", VersionListVersion::V2, 248}, {"QTS_____", VersionListVersion::V1, 56}}) {
        const std::string full(nameField, 'w');  // fills its field, cut at the field's end
        const Bytes list = versionList(magic, {odd, "Sub\\Data.ARC", "D:x.arc", "\x95\x5C.arc", "a\\DUP", "dup", full});
        Bytes data = bytesOf("abc");
        data.insert(data.end(), list.begin(), list.end());
        ASSERT_EQ(open(patch("PELMAR ARC20", {{"data.arc", 3}, {"TLX.HVL", static_cast<uint32_t>(list.size())}}, data)),
                  Ok);
        VersionList versions;
        versions.loadFromArchive(executable, archive, 1);
        ASSERT_EQ(versions.count, 7u) << magic;
        EXPECT_EQ(versions.version, version);
        EXPECT_EQ(std::string(versions.records[0].name, 10), std::string("a.arc\0\0\0\0\0", 10));
        EXPECT_EQ(versions.records[6].name + std::string(reinterpret_cast<char*>(versions.records[6].checkValue), 8),
                  full + "xxxxxxxx");
        const std::pair<const char*, int> cases[] = {{"a.arc", 0}, {"data.arc", 1},     {"sub\\data.arc", -1},
                                                     {"x.arc", 2}, {"\x95\x5C.arc", 3}, {"Data.ARC", -1},
                                                     {"dup", 4}};
        for (const auto& [key, record] : cases) {
            EXPECT_EQ(versions.findRecord(key), record < 0 ? nullptr : &versions.records[record]) << key;
        }
    }
}

TEST_F(FormatsTest, PruningKeepsTheRecordsOfExistingFilesWithTheirBytes) {
    std::filesystem::create_directories(folder.file("sub/Folder"));
    for (const char* name : {"a.arc", "sub/c.arc"}) writeFile(folder.file(name), {});
    const std::string odd("sub\\c.arc\0\x77", 11);  // bytes after a NUL are kept
    for (const char* magic : {"QTS_V2__", "QTS_____"}) {
        Bytes list = versionList(magic, {"gone.arc", "a.arc", odd, "sub\\Folder"});
        list.insert(list.end(), {'t', 'a', 'i', 'l'});
        writeFile(folder.file("TLX.hvl"), list);
        VersionList::pruneInstalled(folder.path.c_str());
        EXPECT_EQ(readFile(folder.file("TLX.hvl")), versionList(magic, {"a.arc", odd, "sub\\Folder"})) << magic;
    }
    // A read-only list stays as it is, even where the system would let a move replace it.
    const Bytes readOnly = versionList("QTS_V2__", {"gone.arc", "a.arc"});
    writeFile(folder.file("TLX.hvl"), readOnly);
    std::filesystem::permissions(folder.file("TLX.hvl"), std::filesystem::perms::owner_read);
    VersionList::pruneInstalled(folder.path.c_str());
    EXPECT_EQ(snapshot(folder.path), (Snapshot{{"a.arc", {}}, {"sub/c.arc", {}}, {"TLX.hvl", readOnly}}));
}

}  // namespace
