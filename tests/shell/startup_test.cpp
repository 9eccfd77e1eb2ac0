// The start-up's decisions that need no window: the install-folder lookup against the real registry
// (under a key of its own in HKEY_LOCAL_MACHINE) and the choice of the outcome message.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "engine/update_result.h"
#include "shell/install_folder.h"
#include "shell/messages.h"
#include "shell/outcome.h"

namespace {

const std::string brand = "VennholtTests";
const std::string product = "InstallFolder" + std::to_string(GetCurrentProcessId());
const std::string keyPath = "Software\\" + brand + "\\" + product;

class InstallFolderTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ("Software\\" + brand).c_str());
    }
    void store(DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(key, "InstalledFolder", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    bool find(char* folder) { return findInstallFolder(folder, brand.c_str(), product.c_str()); }

    HKEY key = nullptr;
};

std::string withZero(const std::string& text) { return text + std::string(1, '\0'); }

struct FolderCase {
    const char* name;
    DWORD type;
    std::string stored;  // the value's bytes as written
    bool found;
    std::string expected;  // the folder read, when found
};

TEST_F(InstallFolderTest, TakesOnlyAStringThatFitsWithItsTerminatingZero) {
    const std::string longest(259, 'x');
    const FolderCase cases[] = {
        {"plain folder", REG_SZ, withZero("C:\\Games\\Vennholt"), true, "C:\\Games\\Vennholt"},
        {"double-byte folder", REG_SZ, withZero("C:\\\x83\x51\x81\x5B\x83\x80\\Vennholt"), true,
         "C:\\\x83\x51\x81\x5B\x83\x80\\Vennholt"},
        {"259 bytes and the zero", REG_SZ, withZero(longest), true, longest},
        {"260 bytes and the zero", REG_SZ, withZero(longest + "x"), false, ""},
        {"260 bytes without a zero", REG_SZ, longest + "x", false, ""},
        {"stored without its zero", REG_SZ, "C:\\Vennholt", true, "C:\\Vennholt"},
        {"empty", REG_SZ, withZero(""), false, ""},
        {"expandable string", REG_EXPAND_SZ, withZero("C:\\Games\\Vennholt"), false, ""},
        {"multi-string", REG_MULTI_SZ, withZero(withZero("C:\\Games\\Vennholt")), false, ""},
        {"binary", REG_BINARY, withZero("C:\\Games\\Vennholt"), false, ""},
        {"number", REG_DWORD, std::string("\x01\x00\x00\x00", 4), false, ""},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        store(c.type, c.stored);
        char folder[installFolderSize + 16];
        std::memset(folder, '#', sizeof folder);
        EXPECT_EQ(find(folder), c.found);
        if (c.found) {
            EXPECT_EQ(std::string(folder), c.expected);
        }
        // Nothing is written past the 260 bytes, whatever the value.
        EXPECT_EQ(std::string(folder + installFolderSize, 16), std::string(16, '#'));
    }
}

TEST_F(InstallFolderTest, MissingValueKeyOrNamesGiveFalse) {
    char folder[installFolderSize];
    EXPECT_FALSE(find(folder)) << "key without the value";
    store(REG_SZ, withZero("C:\\Games\\Vennholt"));
    EXPECT_FALSE(findInstallFolder(folder, brand.c_str(), "NoSuchProduct"));
    EXPECT_FALSE(findInstallFolder(folder, nullptr, product.c_str()));
    EXPECT_FALSE(findInstallFolder(folder, brand.c_str(), nullptr));
    // A key path longer than its 4096-byte buffer is refused, not cut to some other key.
    EXPECT_FALSE(findInstallFolder(folder, std::string(5000, 'k').c_str(), product.c_str()));
    EXPECT_TRUE(find(folder));
}

TEST(OutcomeTest, EachResultHasItsMessageOrNone) {
    const struct {
        uint32_t result;
        OutcomeBox box;
        const char* text;
    } cases[] = {
        {Ok, OutcomeBox::Information, completedText},
        {PayloadDamaged, OutcomeBox::Warning, damagedText},
        {TooManyEntries, OutcomeBox::Warning, damagedText},
        {0x80000003u, OutcomeBox::Warning, damagedText},
        {FileWriteFailed, OutcomeBox::Warning, writeFailedText},
        {UninstallListFailed, OutcomeBox::Warning, uninstallListFailedText},
        {Aborted, OutcomeBox::None, nullptr},
        {Cancelled, OutcomeBox::None, nullptr},
        {0x80000000u, OutcomeBox::None, nullptr},
        {0x80000008u, OutcomeBox::None, nullptr},
        {1, OutcomeBox::None, nullptr},
        {0xFFFFFFFFu, OutcomeBox::None, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.result);
        const Outcome outcome = outcomeFor(c.result);
        EXPECT_EQ(outcome.box, c.box);
        EXPECT_EQ(outcome.text, c.text);
    }
}

}  // namespace
