// The engine's file-system calls behave alike on both platforms.
#include "engine/file_system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "engine/file_handle.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

void makeReadOnly(const std::string& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

TEST(FileSystemTest, MoveReplacesAnExistingTargetInOneStep) {
    TempFolder folder;
    const std::string from = folder.file("new.tmp"), to = folder.file("game.arc");
    writeFileText(from, "new");
    writeFileText(to, "old contents");
    EXPECT_TRUE(moveReplacing(from.c_str(), to.c_str()));
    EXPECT_FALSE(fileExists(from));
    EXPECT_EQ(readFileBytes(to), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

TEST(FileSystemTest, MoveFailsWithoutChangingTheTarget) {
    TempFolder folder;
    const std::string from = folder.file("new.tmp"), to = folder.file("game.arc");
    writeFileText(to, "old");
    EXPECT_FALSE(moveReplacing(from.c_str(), to.c_str())) << "missing source";
    writeFileText(from, "new");
    fs::create_directory(folder.file("folder"));
    EXPECT_FALSE(moveReplacing(from.c_str(), folder.file("folder").c_str())) << "folder as target";
    EXPECT_TRUE(fileExists(from));
    EXPECT_EQ(readFileBytes(to).size(), 3u);
}

TEST(FileSystemTest, MoveFailsWhileTheTargetIsHeldOpen) {
    TempFolder folder;
    const std::string from = folder.file("new.tmp"), to = folder.file("game.arc");
    writeFileText(from, "new");
    writeFileText(to, "old");
    FileHandle holder;
    ASSERT_TRUE(holder.openRead(to.c_str()));
    EXPECT_FALSE(moveReplacing(from.c_str(), to.c_str()));
    holder.close();
    EXPECT_TRUE(moveReplacing(from.c_str(), to.c_str()));
}

TEST(FileSystemTest, BackslashSeparatedPathsReachFilesInSubfolders) {
    TempFolder folder;
    fs::create_directory(folder.file("sub"));
    writeFileText(folder.file("sub/a.arc"), "a");
    const std::string enginePath = folder.path() + "\\sub\\a.arc";
    EXPECT_TRUE(pathExists(enginePath.c_str()));
    EXPECT_TRUE(pathExists((folder.path() + "\\sub").c_str()));
    EXPECT_FALSE(pathExists((folder.path() + "\\sub\\b.arc").c_str()));
    EXPECT_TRUE(deleteFile(enginePath.c_str()));
    EXPECT_FALSE(pathExists(enginePath.c_str()));
    EXPECT_FALSE(deleteFile(enginePath.c_str())) << "deleting a missing file fails harmlessly";
}

TEST(FileSystemTest, ResettingAttributesMakesAReadOnlyFileWritable) {
    TempFolder folder;
    const std::string path = folder.file("stale.tmp");
    writeFileText(path, "stale");
    makeReadOnly(path);
    EXPECT_TRUE(setAttributesNormal(path.c_str()));
    FileHandle file;
    EXPECT_TRUE(file.openWrite(path.c_str()));
    EXPECT_FALSE(setAttributesNormal(folder.file("missing").c_str()));
}

TEST(FileSystemTest, OwnExecutablePathNamesThisProgram) {
    char path[260] = "setup.exe";
    ASSERT_TRUE(ownExecutablePath(path, sizeof path));
    EXPECT_TRUE(pathExists(path));
    EXPECT_NE(std::strstr(path, "unit_tests"), nullptr);
}

#ifndef _WIN32
// Wine run by root ignores the read-only attribute; natively a file without write bits is refused.
TEST(FileSystemTest, ReadOnlyTargetIsNeitherReplacedNorDeleted) {
    TempFolder folder;
    const std::string from = folder.file("new.tmp"), to = folder.file("game.arc");
    writeFileText(from, "new");
    writeFileText(to, "old");
    makeReadOnly(to);
    EXPECT_FALSE(moveReplacing(from.c_str(), to.c_str()));
    EXPECT_FALSE(deleteFile(to.c_str()));
    EXPECT_EQ(readFileBytes(to).size(), 3u);
    setAttributesNormal(to.c_str());
    EXPECT_TRUE(moveReplacing(from.c_str(), to.c_str()));
}
#endif

}  // namespace
