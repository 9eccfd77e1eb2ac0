// The uninstall list: normalising, merging, and the rewrite that never loses the old list.
#include "engine/uninstall_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/version_list.h"
#include "formats/version_list_writer.h"
#include "tests/support/folder.h"

namespace {

using namespace std::string_literals;

struct Install {
    TempFolder folder;
    std::string list = folder.file("uninst.lst");

    bool merge(std::vector<const char*> names) {
        names.push_back(nullptr);
        return mergeUninstallList(folder.path.c_str(), names.data());
    }
    // "" when the folder holds the list with this text and nothing else.
    std::string only(const std::string& text) {
        return difference(snapshot(folder.path), {{"uninst.lst", bytesOf(text)}});
    }
};

TEST(UninstallListTest, MergeNormalisesTheListAndAppendsNewNames) {
    const std::string longA(1000, 'A'), longB(1000, 'B'),
        longMerged = std::string(1000, 'a') + "\n" + std::string(1000, 'b') + "\n\0"s;
    const struct {
        const char* what;
        std::string before;
        std::vector<const char*> names;
        std::string after;
    } cases[] = {
        {"duplicates in any case merged, new names appended, \"$\" lines last",
         "$Dir\r\nData.arc\r\ndata.ARC\r\n",
         {"new.arc", "DATA.arc"},
         "data.arc\nnew.arc\n$dir\n\0"s},
        {"\"$\" lines after leading blanks, in their order", " \t$b\n$a\nz\n$B\n", {}, "z\n$b\n$a\n\0"s},
        {"a name like a \"$\" line stays among the names", "$Dir\n", {"$DIR"}, "$dir\n$dir\n\0"s},
        {"line ends, blank lines and blanks", "\r\n \t\r\n  A\nb\rc \r\nd\n\re\r\r\n\nf", {}, "a\nb\nc \nd\ne\nf\n\0"s},
        {"a NUL ends the text", "a\nb\0c\n"s, {""}, "a\nb\n\n\0"s},
        {"only blank lines", " \r\n\t\n", {}, "\0"s},
        // A byte after a lead byte is neither lower-cased nor a line end.
        {"trail bytes", "\x95\\A\na\x81\rB\n\x82\x60\n", {"\x95\\B"}, "\x95\\a\na\x81\rb\n\x82\x81\n\x95\\b\n\0"s},
        // With the LF written after it, half a character would join two lines into one.
        {"half a character at the end of the text or a name", "a\nB\x95", {"c\x95", "d"}, "a\nb\nc\nd\n\0"s},
        {"long lines kept whole (longer than the line buffer)", longA, {longB.c_str()}, longMerged},
    };
    for (const auto& test : cases) {
        Install install;
        writeFile(install.list, bytesOf(test.before));
        EXPECT_TRUE(install.merge(test.names)) << test.what;
        EXPECT_EQ(install.only(test.after), "") << test.what;
    }
}

// A missing list and failures of single operations are left to the update run's tests.
TEST(UninstallListTest, ListsThatCannotBeReplacedStayAsTheyWere) {
    Install install;
    writeFile(install.list, bytesOf("Data.arc\r\n"));
    FileHandle holder;  // another program reads the list and lets nobody replace it meanwhile
    ASSERT_TRUE(holder.openRead(install.list.c_str()));
    EXPECT_FALSE(install.merge({"new.arc"}));
    holder.close();
    // A read-only list stays as it is, even where the system would let a move replace it.
    std::filesystem::permissions(install.list, std::filesystem::perms::owner_read);
    EXPECT_FALSE(install.merge({"new.arc"}));
    std::filesystem::permissions(install.list, std::filesystem::perms::owner_all);
    EXPECT_EQ(install.only("Data.arc\r\n"), "");
    writeFile(install.folder.file("uninst.lst.new"), Bytes(100, 'x'));  // left by an interrupted run
    EXPECT_TRUE(install.merge({}));
    EXPECT_EQ(install.only("data.arc\n\0"s), "");
    // Nor is a read-only version list pruned.
    const Bytes list = *makeVersionList({{"gone.arc", {}}});
    writeFile(install.folder.file("TLX.hvl"), list);
    std::filesystem::permissions(install.folder.file("TLX.hvl"), std::filesystem::perms::owner_read);
    VersionList::pruneInstalled(install.folder.path.c_str());
    EXPECT_EQ(readFile(install.folder.file("TLX.hvl")), list);
}

// Where the system's code page has no lead bytes (1252, under Wine in a French locale), 0xE9 is "é",
// a character of its own: a list whose last line ends in it is kept whole, and a "\" after it
// separates. Elsewhere 0xE9 is a lead byte and the test does not apply.
TEST(UninstallListTest, SingleByteCodePageHasNoHalfCharacters) {
    if (isLeadByte(0xE9)) GTEST_SKIP() << "0xE9 is a lead byte of this code page";
    EXPECT_STREQ(lastNameComponent("caf\xE9\\menu.arc"), "menu.arc");
    Install install;
    writeFile(install.list, bytesOf("a\r\ncaf\xE9"));
    EXPECT_TRUE(install.merge({"caf\xE9\\b"}));
    EXPECT_EQ(install.only("a\ncaf\xE9\ncaf\xE9\\b\n\0"s), "");
}

// Duplicates are found through an index, so a large list merges in linear time. The bound is
// generous for sanitizer builds; a search that walks the list takes minutes.
TEST(UninstallListTest, ALargeListMergesInLinearTime) {
    std::string before, after, added;
    std::vector<std::string> names;
    for (int i = 0; i < 100000; ++i) {
        before += "Data\\File" + std::to_string(i) + ".arc\n";
        after += "data\\file" + std::to_string(i) + ".arc\n";
        if (i % 100 == 0) names.push_back("DATA\\FILE" + std::to_string(i * 3) + ".ARC");  // a third are listed
        if (i % 100 == 0 && i * 3 >= 100000) added += "data\\file" + std::to_string(i * 3) + ".arc\n";
    }
    std::vector<const char*> pointers;
    for (const std::string& name : names) pointers.push_back(name.c_str());
    Install install;
    writeFile(install.list, bytesOf(before));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(install.merge(pointers));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(install.only(after + added + '\0'), "");
}

}  // namespace
