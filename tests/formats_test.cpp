// The payload archive and the version list read from bytes written here by hand, not by formats/,
// so that a fault shared by a reader and its writer cannot hide; and the pruning of the installed list.
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

struct Entry {
    std::string name;
    uint32_t offset, size;
};

// Zero bytes up to 0x60000, the header, the index (128-byte entries under "PELMAR ARC20", 32-byte
// ones under any other magic), then `data`.
Bytes patch(const std::string& magic, uint32_t count, const std::vector<Entry>& entries, const Bytes& data = {}) {
    Bytes bytes(0x60000);
    put(bytes, magic, 12);
    put(bytes, count);
    for (const Entry& entry : entries) {
        put(bytes, entry.name, magic == "PELMAR ARC20" ? 96 : 16);
        put(bytes, entry.offset);
        put(bytes, entry.size);
        put(bytes, "", magic == "PELMAR ARC20" ? 24 : 8);
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// A version list with the header word 0xBEEF and, per name, its field (248 bytes under "QTS_V2__",
// 56 otherwise) and a check value of eight copies of the byte after the name's first.
Bytes versionList(const std::string& magic, const std::vector<std::string>& names, uint32_t count) {
    Bytes bytes;
    put(bytes, magic, 8);
    put(bytes, 0xBEEF);
    put(bytes, count);
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
    VersionList versions;

    UpdateResult open(const Bytes& image) {
        executable.close();
        writeFile(folder.file("setup.exe"), image);
        EXPECT_TRUE(executable.openRead(folder.file("setup.exe").c_str()));
        return archive.open(executable);
    }
    // Loads a version list carried as the second entry of a patch.
    void load(const Bytes& list) {
        Bytes data = bytesOf("abc");
        data.insert(data.end(), list.begin(), list.end());
        const auto size = static_cast<uint32_t>(list.size());
        ASSERT_EQ(open(patch("PELMAR ARC20", 2, {{"data.arc", 0, 3}, {"TLX.HVL", 3, size}}, data)), Ok);
        versions.loadFromArchive(executable, archive, *archive.findEntry("tlx.hvl"));
    }
};

TEST_F(FormatsTest, ArchivesOfBothLayoutsAndWhatIsRefused) {
    for (const auto& [magic, entrySize, nameField] :
         {std::tuple{"PELMAR ARC20", 128u, 96}, {"pelmar arc20", 32u, 16}}) {
        // The last name fills its whole field and is cut at the field's end.
        const std::vector<Entry> entries = {{"a.arc", 0, 4}, {"Sub\\B.ARC", 4, 2}, {std::string(nameField, 'n'), 6, 1}};
        ASSERT_EQ(open(patch(magic, 3, entries)), Ok);
        EXPECT_EQ(archive.layout, entrySize == 128 ? ArchiveLayout::Current : ArchiveLayout::Legacy);
        for (uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(archive.entry(i).name, entries[i].name);
            EXPECT_EQ(archive.entry(i).size, entries[i].size);
            EXPECT_EQ(archive.dataPosition(i), 0x60010 + 3 * entrySize + entries[i].offset);
            EXPECT_TRUE(archive.isEntryReachable(i));
        }
        EXPECT_EQ(archive.findEntry("sub\\b.arc"), 1u);
    }
    const std::vector<Entry> full(32, Entry{"x", 0, 0});
    EXPECT_EQ(open(patch("PELMAR ARC20", 32, full)), Ok);
    EXPECT_EQ(open(patch("PELMAR ARC20", 33, full)), TooManyEntries);
    EXPECT_EQ(open(patch("xxxxxxxxxxxx", 0xFFFFFFFF, full)), TooManyEntries);
    Bytes shortHeader = patch("PELMAR ARC20", 0, {}), shortIndex = patch("PELMAR ARC20", 2, {{"a", 0, 0}, {"b", 0, 0}});
    shortHeader.pop_back();
    shortIndex.pop_back();
    for (const Bytes& image : {Bytes(0x5FFFF), shortHeader, shortIndex}) EXPECT_EQ(open(image), PayloadDamaged);
    // A damaged index whose data position wraps round 2^32 would name other bytes of the file.
    ASSERT_EQ(open(patch("PELMAR ARC20", 2, {{"x", 0u - 0x60110, 0}, {"y", 0, 0xFFFFFFFF}})), Ok);
    EXPECT_FALSE(archive.isEntryReachable(0) || archive.isEntryReachable(1));
}

TEST_F(FormatsTest, VersionListsOfBothVersionsMatchEntriesByTheirLastComponent) {
    const std::string odd("a.arc\0\xEE", 7);  // a byte after the NUL is no part of the name
    for (const auto& [magic, nameField] : {std::pair{"QTS_V2__", 248}, {"QTS_____", 56}}) {
        const std::string full(nameField, 'w');  // fills its field, cut at the field's end
        load(versionList(magic, {odd, "Sub\\Data.ARC", "D:x.arc", "\x95\x5C.arc", "a\\DUP", "dup", full}, 7));
        ASSERT_EQ(versions.count, 7u) << magic;
        EXPECT_EQ(versions.version, nameField == 56 ? VersionListVersion::V1 : VersionListVersion::V2);
        EXPECT_EQ(std::string(versions.records[0].name, 10), std::string("a.arc\0\0\0\0\0", 10));
        EXPECT_EQ(versions.records[6].name + std::string(reinterpret_cast<char*>(versions.records[6].checkValue), 8),
                  full + "xxxxxxxx");
        const std::pair<const char*, int> cases[] = {{"a.arc", 0},     {"data.arc", 1}, {"sub\\data.arc", -1},
                                                     {"Data.ARC", -1}, {"x.arc", 2},    {"\x95\x5C.arc", 3},
                                                     {".arc", -1},     {"dup", 4}};
        for (const auto& [key, record] : cases) {
            EXPECT_EQ(versions.findRecord(key), record < 0 ? nullptr : &versions.records[record]) << key;
        }
    }
    const Bytes good = versionList("QTS_V2__", {"a.arc", "b.arc"}, 2);
    for (const Bytes& list : {versionList("QTS_V3__", {"a"}, 1), versionList("qts_v2__", {"a"}, 1),
                              Bytes(good.begin(), good.begin() + 15), Bytes(good.begin(), good.end() - 1),
                              versionList("QTS_V2__", {"a"}, 0x01000000), versionList("QTS_____", {}, 0x04000000)}) {
        load(good);
        load(list);
        EXPECT_EQ(versions.count, 0u);
        EXPECT_EQ(versions.version, VersionListVersion::None);
        EXPECT_EQ(versions.findRecord("a.arc"), nullptr);
    }
}

TEST_F(FormatsTest, PruningKeepsTheRecordsOfExistingFilesOrLeavesTheOldList) {
    std::filesystem::create_directories(folder.file("sub/Folder"));
    for (const char* name : {"a.arc", "sub/c.arc"}) writeFile(folder.file(name), {});
    const std::string odd("sub\\c.arc\0\x77", 11), listPath = folder.file("TLX.hvl");  // bytes after a NUL are kept
    for (const char* magic : {"QTS_V2__", "QTS_____"}) {
        Bytes list = versionList(magic, {"gone.arc", "a.arc", odd, "sub\\Folder"}, 4);
        list.insert(list.end(), {'t', 'a', 'i', 'l'});
        writeFile(listPath, list);
        VersionList::pruneInstalled(folder.path.c_str());
        EXPECT_EQ(readFile(listPath), versionList(magic, {"a.arc", odd, "sub\\Folder"}, 3)) << magic;
    }
    const Bytes list = versionList("QTS_V2__", {"gone.arc", "a.arc"}, 2);
    writeFile(listPath, list);
    const std::string prunePath = folder.file(versionListPruneName);
    std::filesystem::create_directory(prunePath);  // the new list cannot be written
    VersionList::pruneInstalled(folder.path.c_str());
    std::filesystem::remove(prunePath);
    ASSERT_TRUE(executable.openRead(listPath.c_str()));  // another program reads the list meanwhile
    VersionList::pruneInstalled(folder.path.c_str());
    executable.close();
#ifndef _WIN32  // Wine run by root ignores the read-only attribute
    std::filesystem::permissions(listPath, std::filesystem::perms::owner_read);
    VersionList::pruneInstalled(folder.path.c_str());
    std::filesystem::permissions(listPath, std::filesystem::perms::owner_all);
#endif
    EXPECT_EQ(readFile(listPath), list);
    EXPECT_FALSE(std::filesystem::exists(prunePath));
    writeFile(prunePath, Bytes(1000, 'x'));  // left over from an interrupted pruning
    VersionList::pruneInstalled(folder.path.c_str());
    EXPECT_EQ(readFile(listPath), versionList("QTS_V2__", {"a.arc"}, 1));
    EXPECT_FALSE(std::filesystem::exists(prunePath));
}

}  // namespace
