// FileHandle and the file-system calls: one contract for the POSIX and the Windows backends.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "tests/support/folder.h"

TEST(FileAccessTest, SharingSeeksAndMovesFollowOneContract) {
    TempFolder temp;
    const std::string ten = temp.file("ten.bin");
    writeFile(ten, bytesOf("0123456789"));
    writeFile(temp.file("sub/other.bin"), bytesOf("xyz"));
    std::filesystem::create_directory(temp.file("empty"));
    FolderHandle folder, sub;
    ASSERT_TRUE(openFolder(folder, temp.path.c_str()));
    ASSERT_EQ(openSubfolder(sub, folder, "sub"), SubfolderOpening::Opened);
    EXPECT_EQ(openSubfolder(sub, folder, "ten.bin"), SubfolderOpening::Failed) << "a file is no folder";
    FileHandle reader, secondReader, writer;
    ASSERT_TRUE(reader.openRead(folder, "ten.bin"));
    EXPECT_FALSE(reader.openWrite(folder, "new.bin")) << "an open object opens nothing else";
    EXPECT_TRUE(secondReader.openRead(ten.c_str()));
    ASSERT_TRUE(writer.openWrite(folder, "new.bin"));
    EXPECT_FALSE(moveOpenFile(writer, folder, "new.bin", "ten.bin")) << "the target is held open";
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
    FileHandle other;
    EXPECT_FALSE(other.openWrite(folder, "ten.bin")) << "a writer creates a new file only";
    EXPECT_FALSE(other.openRead(folder, "new.bin")) << "a writer keeps everybody out";
    EXPECT_FALSE(other.openRead(folder, "sub")) << "a folder is no file";
    EXPECT_EQ(writer.write("new", 3), 3u);
    NameState state{};
    ASSERT_TRUE(inspectName(folder, "empty", state));
    EXPECT_EQ(state.kind, NameKind::Folder);
    EXPECT_EQ(clearName(folder, "empty"), NameClearing::Folder) << "a folder is not removed";
    EXPECT_FALSE(moveOpenFile(writer, folder, "new.bin", "empty")) << "nor replaced";
#ifndef _WIN32  // Wine run by root ignores the read-only attribute; natively no write bits refuse
    std::filesystem::permissions(ten, std::filesystem::perms::owner_read);
    EXPECT_FALSE(moveOpenFile(writer, folder, "new.bin", "ten.bin"));
#endif
    EXPECT_TRUE(resetFileAttributes(folder, "ten.bin"));
    ASSERT_TRUE(moveOpenFile(writer, folder, "new.bin", "ten.bin"));
    EXPECT_FALSE(writer.isOpen()) << "a moved file is closed";
    EXPECT_EQ(snapshot(temp.path), (Snapshot{{"ten.bin", bytesOf("new")}, {"sub/other.bin", bytesOf("xyz")}}));
    ASSERT_TRUE(writer.openWrite(sub, "gone.bin"));
    deleteOpenFile(writer, sub, "gone.bin");
    EXPECT_EQ(clearName(sub, "other.bin"), NameClearing::Free);
    EXPECT_EQ(clearName(sub, "other.bin"), NameClearing::Free) << "nothing there";
    ASSERT_TRUE(inspectName(sub, "other.bin", state));
    EXPECT_EQ(state.kind, NameKind::Missing);
    EXPECT_EQ(snapshot(temp.path), (Snapshot{{"ten.bin", bytesOf("new")}}));
    EXPECT_TRUE(std::filesystem::is_directory(temp.file("empty")));
}
