// The monitor list and the arithmetic that centres the progress dialog on a monitor.
#include "shell/monitor_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "shell/dialog_placement.h"

namespace {

bool operator==(const MonitorRect& a, const MonitorRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Every test starts and ends with an empty process-wide list.
class MonitorListTest : public testing::Test {
protected:
    void SetUp() override { freeMonitors(); }
    void TearDown() override { freeMonitors(); }
};

TEST_F(MonitorListTest, IndicesFollowTheOrderOfAppending) {
    const MonitorRect monitors[] = {{0, 0, 1920, 1080}, {-1280, 0, 0, 1024}, {1920, -200, 3200, 824}};
    for (const MonitorRect& monitor : monitors) {
        ASSERT_TRUE(appendMonitor(monitor));
    }
    for (uint32_t index = 0; index < 3; ++index) {
        MonitorRect found{};
        ASSERT_TRUE(findMonitorRect(&found, index)) << index;
        EXPECT_TRUE(found == monitors[index]) << index;
    }
    uint32_t expected = 0;
    for (const MonitorNode* node = monitorHead; node != nullptr; node = node->next) {
        EXPECT_EQ(node->index, expected++);
    }
    EXPECT_EQ(expected, 3u);
    EXPECT_EQ(monitorTail->next, nullptr);
}

TEST_F(MonitorListTest, LookupPastTheEndOrInAnEmptyListFailsAndLeavesTheOutputAlone) {
    MonitorRect untouched{1, 2, 3, 4};
    EXPECT_FALSE(findMonitorRect(&untouched, 0));
    ASSERT_TRUE(appendMonitor({0, 0, 800, 600}));
    ASSERT_TRUE(appendMonitor({800, 0, 1600, 600}));
    EXPECT_FALSE(findMonitorRect(&untouched, 2));
    EXPECT_FALSE(findMonitorRect(&untouched, std::numeric_limits<uint32_t>::max()));
    EXPECT_TRUE(untouched == (MonitorRect{1, 2, 3, 4}));
}

TEST_F(MonitorListTest, FreeingEmptiesTheListAndANewOneStartsAtIndexZero) {
    ASSERT_TRUE(appendMonitor({0, 0, 800, 600}));
    ASSERT_TRUE(appendMonitor({800, 0, 1600, 600}));
    freeMonitors();
    EXPECT_EQ(monitorHead, nullptr);
    EXPECT_EQ(monitorTail, nullptr);
    MonitorRect found{};
    EXPECT_FALSE(findMonitorRect(&found, 0));
    freeMonitors();  // freeing an empty list is harmless
    ASSERT_TRUE(appendMonitor({10, 20, 30, 40}));
    EXPECT_EQ(monitorHead->index, 0u);
    ASSERT_TRUE(findMonitorRect(&found, 0));
    EXPECT_TRUE(found == (MonitorRect{10, 20, 30, 40}));
}

TEST(DialogPlacementTest, CentresOnTheMonitorItself) {
    struct Case {
        const char* what;
        MonitorRect monitor;
        MonitorRect window;
        WindowPosition expected;
    };
    const Case cases[] = {
        {"monitor at the origin", {0, 0, 1024, 768}, {0, 0, 406, 215}, {309, 276}},
        {"where the window was does not matter", {0, 0, 1024, 768}, {-50, 900, 356, 1115}, {309, 276}},
        {"monitor right of the primary one", {1920, 0, 3200, 1024}, {0, 0, 400, 200}, {2360, 412}},
        {"monitor left of and above the origin", {-1280, -1024, 0, 0}, {0, 0, 400, 200}, {-840, -612}},
        {"odd spare space rounds toward the corner", {0, 0, 101, 51}, {0, 0, 10, 10}, {45, 20}},
        {"window larger than the monitor", {0, 0, 800, 600}, {0, 0, 1000, 700}, {-100, -50}},
        {"larger by an odd amount truncates toward zero", {0, 0, 100, 100}, {0, 0, 105, 107}, {-2, -3}},
        {"larger than an offset monitor", {1920, 100, 2020, 200}, {0, 0, 105, 107}, {1918, 97}},
    };
    for (const Case& c : cases) {
        const WindowPosition position = centredPosition(c.monitor, c.window);
        EXPECT_EQ(position.x, c.expected.x) << c.what;
        EXPECT_EQ(position.y, c.expected.y) << c.what;
    }
}

TEST(DialogPlacementTest, ExtremeRectanglesWrapInsteadOfOverflowing) {
    constexpr int32_t low = std::numeric_limits<int32_t>::min(), high = std::numeric_limits<int32_t>::max();
    // The monitor's width is 2^32 - 1, which wraps to -1 in 32 bits: (-1 - 0) / 2 truncates to 0.
    const WindowPosition position = centredPosition({low, low, high, high}, {0, 0, 0, 0});
    EXPECT_EQ(position.x, low);
    EXPECT_EQ(position.y, low);
}

}  // namespace
