// FileHandle and the file-system calls: one contract for the POSIX and the Windows backends.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "tests/support/folder.h"

TEST(FileAccessTest, SharingSeeksAndMovesFollowOneContract) {
    TempFolder folder;
    const std::string ten = folder.file("ten.bin"), other = folder.file("other.bin");
    writeFile(ten, bytesOf("0123456789"));
    writeFile(other, bytesOf("xyz"));
    FileHandle reader, secondReader, writer;
    ASSERT_TRUE(reader.openRead(ten.c_str()));
    EXPECT_FALSE(reader.openWrite(other.c_str())) << "an open object opens nothing else";
    EXPECT_TRUE(secondReader.openRead(ten.c_str()));
    EXPECT_FALSE(moveReplacing(other.c_str(), ten.c_str())) << "the target is held open";
    char buffer[16] = {};
    EXPECT_TRUE(reader.seek(7));
    EXPECT_EQ(reader.read(buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "789");
    EXPECT_EQ(reader.write("x", 1), 0u) << "a reader cannot write";
    EXPECT_TRUE(reader.seek(maxFilePosition));
    EXPECT_EQ(reader.read(buffer, 1), 0u);
    EXPECT_FALSE(reader.seek(maxFilePosition + 1));
    reader.close();
    secondReader.close();
    EXPECT_FALSE(writer.openWrite(ten.c_str())) << "a writer creates a new file only";
    EXPECT_EQ(clearName(ten.c_str()), NameClearing::Free);
    ASSERT_TRUE(writer.openWrite(ten.c_str()));
    EXPECT_EQ(writer.size(), 0u);
    EXPECT_FALSE(reader.openRead(ten.c_str())) << "a writer keeps everybody out";
    writer.close();
    EXPECT_FALSE(reader.openRead(folder.path.c_str())) << "a folder is no file";
    EXPECT_FALSE(moveReplacing(other.c_str(), folder.path.c_str())) << "a folder is not replaced";
    EXPECT_EQ(clearName(folder.path.c_str()), NameClearing::Folder) << "nor removed";
    EXPECT_TRUE(pathExists((folder.path + "\\ten.bin").c_str())) << "the engine's separator";
    EXPECT_TRUE(pathExists(folder.path.c_str())) << "a folder exists too";
#ifndef _WIN32  // Wine run by root ignores the read-only attribute; natively no write bits refuse
    std::filesystem::permissions(ten, std::filesystem::perms::owner_read);
    EXPECT_FALSE(moveReplacing(other.c_str(), ten.c_str()));
#endif
    EXPECT_TRUE(resetFileAttributes(ten.c_str()));
    EXPECT_TRUE(moveReplacing(other.c_str(), ten.c_str()));
    EXPECT_EQ(snapshot(folder.path), (Snapshot{{"ten.bin", bytesOf("xyz")}}));
    EXPECT_EQ(clearName(ten.c_str()), NameClearing::Free);
    EXPECT_EQ(clearName(ten.c_str()), NameClearing::Free) << "nothing there";
    EXPECT_TRUE(snapshot(folder.path).empty());
}
