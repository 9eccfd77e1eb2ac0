// What the shell decides without a window: where the dialog goes, and (on Windows, in the real
// registry under a key of its own) where the game is installed.
#include <gtest/gtest.h>

#include <cstring>

#include "shell/dialog_placement.h"
#include "shell/monitor_list.h"
#ifdef _WIN32
#include <windows.h>

#include "shell/install_folder.h"
#endif

using namespace std::string_literals;

TEST(ShellTest, TheDialogIsCentredOnTheFirstReportedMonitor) {
    freeMonitors();
    const MonitorRect monitors[] = {{1920, 100, 2020, 200}, {-1280, -1024, 0, 0}, {0, 0, 101, 51}};
    for (const MonitorRect& monitor : monitors) ASSERT_TRUE(appendMonitor(monitor));
    MonitorRect found{};  // the dialog goes on monitor 0: the first the platform reports
    EXPECT_TRUE(findMonitorRect(&found, 0) && std::memcmp(&found, &monitors[0], sizeof found) == 0);
    freeMonitors();
    EXPECT_FALSE(findMonitorRect(&found, 0));
    const struct {
        MonitorRect monitor, window;
        int32_t x, y;
    } cases[] = {
        {{0, 0, 1024, 768}, {-50, 900, 356, 1115}, 309, 276},  // wherever the window was
        {{-1280, -1024, 0, 0}, {0, 0, 400, 200}, -840, -612},  // left of and above the origin
        {{0, 0, 101, 51}, {0, 0, 10, 10}, 45, 20},             // odd spare space rounds toward the corner
        {{1920, 100, 2020, 200}, {0, 0, 105, 107}, 1918, 97},  // too large by an odd amount: toward zero
    };
    for (const auto& test : cases) {
        const auto [x, y] = centredPosition(test.monitor, test.window);
        EXPECT_EQ(std::pair(x, y), std::pair(test.x, test.y));
    }
}

#ifdef _WIN32
TEST(ShellTest, InstallFolderIsAStringValueThatFitsWithItsZero) {
    const std::string product = "InstallFolder" + std::to_string(GetCurrentProcessId()), longest(259, 'x');
    const std::string keyPath = "Software\\VennholtTests\\" + product;
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    char folder[installFolderSize + 16];
    EXPECT_FALSE(findInstallFolder(folder, "VennholtTests", product.c_str())) << "no value";
    const struct {
        DWORD type;
        std::string stored, expected;  // the value's bytes, the folder read ("": none)
    } cases[] = {
        {REG_SZ, "C:\\\x83\x51\x81\x5B\x83\x80"s + '\0', "C:\\\x83\x51\x81\x5B\x83\x80"},
        {REG_SZ, longest + '\0', longest},
        {REG_SZ, "C:\\Vennholt", "C:\\Vennholt"},  // stored without its zero
        {REG_SZ, longest + "x" + '\0', ""},
        {REG_SZ, longest + "x", ""},
        {REG_SZ, "\0"s, ""},
        {REG_EXPAND_SZ, "C:\\Vennholt"s + '\0', ""},
    };
    for (const auto& test : cases) {
        ASSERT_EQ(
            RegSetValueExA(key, "InstalledFolder", 0, test.type, reinterpret_cast<const BYTE*>(test.stored.data()),
                           static_cast<DWORD>(test.stored.size())),
            ERROR_SUCCESS);
        std::memset(folder, '#', sizeof folder);
        const bool found = findInstallFolder(folder, "VennholtTests", product.c_str());
        EXPECT_EQ(found ? std::string(folder) : "", test.expected) << test.stored;
        EXPECT_EQ(std::string(folder + installFolderSize, 16), std::string(16, '#')) << test.stored << ": written past";
    }
    EXPECT_FALSE(findInstallFolder(folder, std::string(5000, 'k').c_str(), product.c_str())) << "key path too long";
    RegCloseKey(key);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VennholtTests");
}
#endif
