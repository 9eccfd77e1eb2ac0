// The uninstall list: reading, normalising, merging and the rewrite that never loses the old list.
#include "engine/uninstall_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/file_handle.h"
#include "tests/support/temp_folder.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// An install folder holding an uninst.lst with the given bytes.
struct InstallFolder {
    TempFolder folder;
    std::string list = folder.file("uninst.lst");
    std::string temporary = folder.file("uninst.lst.new");

    explicit InstallFolder(const std::string& text) { writeFileText(list, text); }
    InstallFolder() = default;

    bool merge(std::vector<const char*> names) {
        names.push_back(nullptr);
        return mergeUninstallList(folder.path().c_str(), names.data());
    }
    std::string text() const {
        const auto bytes = readFileBytes(list);
        return std::string(bytes.begin(), bytes.end());
    }
};

struct MergeCase {
    const char* what;
    std::string before;
    std::vector<const char*> names;
    std::string after;
};

TEST(UninstallListTest, MergeNormalisesTheListAndAppendsNewNames) {
    const MergeCase cases[] = {
        {"the documented example",
         "$Dir\r\nData.arc\r\ndata.ARC\r\n",
         {"new.arc", "DATA.arc"},
         "data.arc\nnew.arc\n$dir\n\0"s},
        {"every kind of line end", "a\nb\rc\r\nd\n\re\r\r\n\nf", {}, "a\nb\nc\nd\ne\nf\n\0"s},
        {"blank lines and a line end at the start", "\r\n\n \t \r\nx\n \n\t", {}, "x\n\0"s},
        {"a NUL in the middle ends the text", "a\nb\0c\nd\n"s, {}, "a\nb\n\0"s},
        {"leading blanks go, trailing ones stay", "  A.arc\n\t b c \na.arc \n", {}, "a.arc\nb c \na.arc \n\0"s},
        {"dollar lines move behind, in their order", " \t$b\n$a\nz\n$B\n", {}, "z\n$b\n$a\n\0"s},
        {"case duplicates", "Data.arc\nDATA.ARC\n$X\n$x\n", {}, "data.arc\n$x\n\0"s},
        {"only dollar lines", "$a\r\n$b", {}, "$a\n$b\n\0"s},
        {"only blank lines", " \r\n\t\n\n", {}, "\0"s},
        {"names in the given order", "z\n", {"B.arc", "Sub\\A.arc"}, "z\nb.arc\nsub\\a.arc\n\0"s},
        {"names present in any case or twice", "Data.arc\n", {"DATA.ARC", "N", "n"}, "data.arc\nn\n\0"s},
        {"a name equal to a dollar line", "$Dir\n", {"$DIR"}, "$dir\n$dir\n\0"s},
        {"an empty name", "x\n", {""}, "x\n\n\0"s},
        // "表" is 0x95 0x5C: its trail byte is a backslash and is neither lower-cased nor split on.
        {"trail byte 0x5C", "\x95\\A.arc\n", {"\x95\\B"}, "\x95\\a.arc\n\x95\\b\n\0"s},
        // A byte after a lead byte is never a line end, even when it is a CR or an LF.
        {"trail bytes like line ends", "a\x81\rB\nc\x81\nD\n", {}, "a\x81\rb\nc\x81\nd\n\0"s},
        {"full-width capitals", "\x82\x60\x82\x79.arc\n", {"\x82\x81\x82\x9A.ARC"}, "\x82\x81\x82\x9A.arc\n\0"s},
        {"half-width katakana", "\xB1\xB2Z\n", {}, "\xB1\xB2z\n\0"s},
        // Half a character at the end of the text or of a name is dropped: with the LF written after
        // it, it would read back as a double-byte character and join two lines into one.
        {"a lead byte at the end of the text", "a\n\x95", {}, "a\n\0"s},
        {"a lead byte at the end of the last line", "a\nB\x95", {"c"}, "a\nb\nc\n\0"s},
        {"a lead byte at the end of a name", "a\n", {"B\x95", "c"}, "a\nb\nc\n\0"s},
    };
    for (const auto& test : cases) {
        InstallFolder install(test.before);
        EXPECT_TRUE(install.merge(test.names)) << test.what;
        EXPECT_EQ(install.text(), test.after) << test.what;
        EXPECT_FALSE(fileExists(install.temporary)) << test.what;
    }
}

TEST(UninstallListTest, AWrittenListReadsBackToTheSameEntries) {
    // The second list ends in half a character, which must not swallow the line written after it.
    for (const std::string& before :
         {"$Dir\r\n  Data.arc\r\n\x82\x60.arc\n$b\n"s, "$Dir\r\n  Data.arc\r\n\x82\x60.arc\n$b\x82"s}) {
        InstallFolder install(before);
        ASSERT_TRUE(install.merge({"New.arc", "x\x95"}));
        const std::string written = install.text();
        ASSERT_TRUE(install.merge({}));
        EXPECT_EQ(install.text(), written);
        EXPECT_EQ(written, "data.arc\n\x82\x81.arc\nnew.arc\nx\n$dir\n$b\n\0"s);
    }
}

TEST(UninstallListTest, LongLinesAndLargeTextsAreKeptWhole) {
    // Lines and names longer than the line buffer, and a text that outgrows the first output
    // buffer several times over.
    const std::string over(uninstallLineBufferSize, 'B'), longName(3000, 'D');
    std::string before = std::string(uninstallLineBufferSize - 1, 'A') + "\n" + over + "\r\n" + longName + "\n";
    std::string after = std::string(uninstallLineBufferSize - 1, 'a') + "\n" + std::string(over.size(), 'b') + "\n" +
                        std::string(longName.size(), 'd') + "\n";
    for (int i = 0; i < 20000; ++i) {
        before += "Data\\FILE" + std::to_string(i) + "\n";
        after += "data\\file" + std::to_string(i) + "\n";
    }
    const std::string single(uninstallOutputInitialCapacity * 5, 'q');
    before += single;
    after += single + "\n";
    ASSERT_GT(after.size(), 4u * uninstallOutputInitialCapacity);
    InstallFolder install(before);
    const std::string longNameLower(longName.size(), 'd');
    EXPECT_TRUE(install.merge({longName.c_str(), longNameLower.c_str()}));
    EXPECT_EQ(install.text(), after + '\0');
}

TEST(UninstallListTest, AFailedMergeLeavesTheFolderAsItWas) {
    InstallFolder missing;  // the list is never created
    EXPECT_FALSE(missing.merge({"a.arc"}));
    EXPECT_FALSE(fileExists(missing.list));

    InstallFolder empty("");
    EXPECT_FALSE(empty.merge({"a.arc"}));
    EXPECT_EQ(empty.text(), "");

    const std::string original = "Data.arc\r\n$Dir\r\n";
    InstallFolder held(original);
    FileHandle holder;  // another program reads the list and lets nobody replace it meanwhile
    ASSERT_TRUE(holder.openRead(held.list.c_str()));
    EXPECT_FALSE(held.merge({"new.arc"}));
    holder.close();
    EXPECT_EQ(held.text(), original);
    EXPECT_FALSE(fileExists(held.temporary));

    InstallFolder stale(original);  // a temporary file left by an interrupted run is reused
    writeFileText(stale.temporary, "stale and longer than the list itself");
    EXPECT_TRUE(stale.merge({}));
    EXPECT_EQ(stale.text(), "data.arc\n$dir\n\0"s);
    EXPECT_FALSE(fileExists(stale.temporary));
}

#ifndef _WIN32
// Wine run by root ignores the read-only attribute; natively a file without write bits is refused.
TEST(UninstallListTest, AReadOnlyListOrAnOverlongFolderFailsWithoutChanges) {
    InstallFolder readOnly("Data.arc\n");
    fs::permissions(readOnly.list, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_FALSE(readOnly.merge({"new.arc"}));
    EXPECT_EQ(readOnly.text(), "Data.arc\n");
    EXPECT_FALSE(fileExists(readOnly.temporary));

    // Natively the folder exists; only the bound of the path buffer refuses it.
    InstallFolder deep;
    std::string folder = deep.folder.path();
    while (folder.size() + std::string("\\uninst.lst.new").size() < uninstallPathBufferSize) {
        folder += "/" + std::string(100, 'f');
        fs::create_directory(folder);
    }
    writeFileText(folder + "/uninst.lst", "Data.arc\n");
    const char* names[] = {"new.arc", nullptr};
    EXPECT_FALSE(mergeUninstallList(folder.c_str(), names));
    EXPECT_EQ(readFileBytes(folder + "/uninst.lst").size(), 9u);
}
#endif

// Duplicates are found through an index, so a large list merges in linear time. The bound is
// generous for sanitizer builds; a search that walks the list takes minutes here.
TEST(UninstallListTest, ALargeListMergesQuickly) {
    std::string before;
    for (int i = 0; i < 100000; ++i) before += "Data\\File" + std::to_string(i) + ".arc\n";
    std::vector<std::string> names;  // 503 of them are in the list already, 497 are new
    for (int i = 0; i < 1000; ++i) names.push_back("DATA\\FILE" + std::to_string(i * 199) + ".ARC");
    std::vector<const char*> pointers;
    for (const auto& name : names) pointers.push_back(name.c_str());
    InstallFolder install(before);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(install.merge(pointers));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    const std::string after = install.text();
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 100000 + 497);
}

}  // namespace
