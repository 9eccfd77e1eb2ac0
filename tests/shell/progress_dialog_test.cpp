// The progress dialog in-process, created from the real template: what its procedure leaves to the
// platform, the message pump, the run host's use of the controls, and the dialog's placement. The
// abort question and closing by another program are driven from outside in tests/e2e.
#include "shell/progress_dialog.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

#include "resources/resource_ids.h"
#include "shell/dialog_run_host.h"
#include "shell/display_monitors.h"
#include "shell/message_pump.h"
#include "shell/monitor_list.h"

namespace {

class ProgressDialogTest : public testing::Test {
protected:
    void SetUp() override {
        cancelFlag = abortFlag = 0;
        freeMonitors();
        dialog = createProgressDialog(GetModuleHandleA(nullptr));
        ASSERT_NE(dialog, nullptr) << GetLastError();
        dialogHandle = dialog;
        drainQueue();
    }
    void TearDown() override {
        if (dialogHandle != nullptr) {
            DestroyWindow(dialogHandle);
        }
        dialogHandle = nullptr;
        cancelFlag = abortFlag = 0;
        freeMonitors();
        drainQueue();
    }
    static void drainQueue() {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    RECT windowRect() const {
        RECT rect{};
        GetWindowRect(dialog, &rect);
        return rect;
    }

    HWND dialog = nullptr;
};

// Answers No to any message box of this thread that is still open after half a second, and
// remembers that one appeared: a question that should not have been asked then fails the test instead
// of blocking it. The timer fires inside the box's own modal loop.
bool questionAppeared = false;

BOOL CALLBACK answerNo(HWND window, LPARAM) {
    if (GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, IDNO) != nullptr) {
        questionAppeared = true;
        PostMessageA(window, WM_COMMAND, IDNO, 0);
    }
    return TRUE;
}

void CALLBACK closeQuestions(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), answerNo, 0); }

std::string className(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

TEST_F(ProgressDialogTest, TemplateCreatesAHiddenDialogWithProgressBarsFromTheSystemCommonControls) {
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(className(GetDlgItem(dialog, IDC_ABORT)), "Button");
    EXPECT_EQ(className(GetDlgItem(dialog, IDC_FILE_LABEL)), "Static");
    EXPECT_EQ(className(GetDlgItem(dialog, IDC_FILE_BAR)), "msctls_progress32");
    EXPECT_EQ(className(GetDlgItem(dialog, IDC_OVERALL_BAR)), "msctls_progress32");

    char expected[MAX_PATH], loaded[MAX_PATH];
    const UINT length = GetSystemDirectoryA(expected, MAX_PATH);
    ASSERT_GT(length, 0u);
    lstrcatA(expected, "\\comctl32.dll");
    HMODULE library = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_GT(GetModuleFileNameA(library, loaded, MAX_PATH), 0u);
    EXPECT_EQ(lstrcmpiA(loaded, expected), 0) << loaded;
}

TEST_F(ProgressDialogTest, ProcedureLeavesEverythingButItsOwnMessagesToThePlatform) {
    struct Case {
        const char* what;
        UINT message;
        WPARAM wParam;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"WM_INITDIALOG", WM_INITDIALOG, 0, TRUE},
        {"IDCANCEL (Escape)", WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), FALSE},
        {"IDOK (Enter)", WM_COMMAND, MAKEWPARAM(IDOK, 0), FALSE},
        {"another notification of the abort button", WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_DOUBLECLICKED), FALSE},
        {"a click from another control", WM_COMMAND, MAKEWPARAM(IDC_FILE_LABEL, BN_CLICKED), FALSE},
        {"system close", WM_SYSCOMMAND, SC_CLOSE, TRUE},
        {"system close with the low bits set", WM_SYSCOMMAND, SC_CLOSE | 0x2, TRUE},
        {"system move", WM_SYSCOMMAND, SC_MOVE, FALSE},
        {"system minimise", WM_SYSCOMMAND, SC_MINIMIZE, FALSE},
        {"a timer", WM_TIMER, 1, FALSE},
        {"an application message", WM_APP, 0, FALSE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progressDialogProc(dialog, c.message, c.wParam, 0), c.expected) << c.what;
    }
    // Once the abort is confirmed, a click is taken without asking again.
    abortFlag = 1;
    questionAppeared = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 500, closeQuestions);
    EXPECT_EQ(progressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), 0), TRUE);
    KillTimer(nullptr, timer);
    EXPECT_FALSE(questionAppeared);
    EXPECT_EQ(cancelFlag, 0u);
    EXPECT_EQ(dialogHandle, dialog);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_ABORT))) << "only the confirmation disables the button";
}

TEST_F(ProgressDialogTest, QuitMessageStopsOnePumpCallAndIsConsumed) {
    constexpr UINT marker = WM_APP + 7;
    const DWORD thread = GetCurrentThreadId();
    ASSERT_TRUE(PostMessageA(dialog, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PostThreadMessageA(thread, WM_QUIT, 5, 0));
    ASSERT_TRUE(PostThreadMessageA(thread, marker, 0, 0));

    EXPECT_EQ(pumpMessages(), 1u);
    EXPECT_EQ(cancelFlag, 1u) << "WM_CLOSE, queued before the quit message, was handled";
    EXPECT_EQ(dialogHandle, nullptr);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the quit message is gone";
    EXPECT_TRUE(PeekMessageA(&message, nullptr, marker, marker, PM_NOREMOVE)) << "what follows it stays queued";
    EXPECT_EQ(pumpMessages(), 0u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(pumpMessages(), 0u) << "an empty queue returns at once";
}

TEST_F(ProgressDialogTest, RunHostWritesTheDialogsControls) {
    const RunHost host = dialogRunHost();
    const RunControls controls = host.takeControls(host.context);
    ASSERT_EQ(controls.label, GetDlgItem(dialog, IDC_FILE_LABEL));
    ASSERT_EQ(controls.fileBar, GetDlgItem(dialog, IDC_FILE_BAR));
    ASSERT_EQ(controls.overallBar, GetDlgItem(dialog, IDC_OVERALL_BAR));

    const char text[] =
        "data1.arc\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";  // "をインストール中"
    host.setText(host.context, controls.label, text);
    char read[64] = {};
    GetWindowTextA(static_cast<HWND>(controls.label), read, sizeof read);
    EXPECT_STREQ(read, text);

    struct Bar {
        void* control;
        uint32_t high;
        uint32_t position;
    };
    for (const Bar& bar : {Bar{controls.fileBar, 65535, 40000}, Bar{controls.overallBar, 7, 3}}) {
        host.setRange(host.context, bar.control, 0, bar.high);
        host.setPosition(host.context, bar.control, bar.position);
        PBRANGE range{};
        SendMessageA(static_cast<HWND>(bar.control), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(range.iLow, 0);
        EXPECT_EQ(range.iHigh, static_cast<int>(bar.high));
        EXPECT_EQ(SendMessageA(static_cast<HWND>(bar.control), PBM_GETPOS, 0, 0), static_cast<LRESULT>(bar.position));
    }

    EXPECT_EQ(host.pumpMessages(host.context), 0u);
    EXPECT_FALSE(host.cancelFlag(host.context));
    EXPECT_FALSE(host.abortFlag(host.context));
    abortFlag = 1;
    EXPECT_TRUE(host.abortFlag(host.context));
    host.setCancelFlag(host.context);
    EXPECT_EQ(cancelFlag, 1u);
    EXPECT_TRUE(host.cancelFlag(host.context));

    // Without a dialog there are no controls, and the display calls skip absent ones.
    dialogHandle = nullptr;
    const RunControls none = host.takeControls(host.context);
    EXPECT_EQ(none.label, nullptr);
    EXPECT_EQ(none.fileBar, nullptr);
    EXPECT_EQ(none.overallBar, nullptr);
    host.setText(host.context, nullptr, "x");
    host.setRange(host.context, nullptr, 0, 1);
    host.setPosition(host.context, nullptr, 1);
    dialogHandle = dialog;
}

TEST_F(ProgressDialogTest, CentresOnMonitorZeroWhereverItLies) {
    const RECT before = windowRect();
    const LONG width = before.right - before.left, height = before.bottom - before.top;
    ASSERT_TRUE(appendMonitor({1920, 100, 3200, 1124}));  // monitor 0, right of the origin
    ASSERT_TRUE(appendMonitor({0, 0, 1920, 1080}));
    centerDialog(dialog);
    const RECT after = windowRect();
    EXPECT_EQ(after.left, 1920 + (1280 - width) / 2);
    EXPECT_EQ(after.top, 100 + (1024 - height) / 2);
    EXPECT_EQ(after.right - after.left, width) << "moved, not resized";
    EXPECT_EQ(after.bottom - after.top, height);
}

TEST_F(ProgressDialogTest, WithoutMonitorZeroCentresOnThePrimaryWorkArea) {
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    SetWindowPos(dialog, HWND_TOP, -5000, -5000, 0, 0, SWP_NOSIZE);
    centerDialog(dialog);
    const RECT after = windowRect();
    const LONG width = after.right - after.left, height = after.bottom - after.top;
    EXPECT_EQ(after.left, work.left + ((work.right - work.left) - width) / 2);
    EXPECT_EQ(after.top, work.top + ((work.bottom - work.top) - height) / 2);
}

TEST_F(ProgressDialogTest, CollectsTheDisplayMonitorsInTheirOrder) {
    EXPECT_TRUE(collectMonitors());
    MonitorRect first{};
    ASSERT_TRUE(findMonitorRect(&first, 0));
    // The virtual display has one monitor: the primary one at the origin.
    EXPECT_EQ(first.left, 0);
    EXPECT_EQ(first.top, 0);
    EXPECT_EQ(first.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(first.bottom, GetSystemMetrics(SM_CYSCREEN));
    MonitorRect past{};
    EXPECT_FALSE(findMonitorRect(&past, static_cast<uint32_t>(GetSystemMetrics(SM_CMONITORS))));
}

}  // namespace
