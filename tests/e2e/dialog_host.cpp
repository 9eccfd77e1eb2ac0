// A stand-in for setup.exe around the progress dialog: it creates the real dialog from the resource
// script, collects the monitors, sets the caption, centres and shows the dialog and fills its controls
// through the dialog's run host, as the updater does before a run. Then it pumps messages the way a
// run does, between steps, until it is told to stop, and reports the stop flags and the dialog's
// state.
//
//   dialog_host SESSION REPORT   pump for the driver program of session SESSION (see driver.cpp),
//                                then write the report to the file REPORT
//   dialog_host --hold MARKER    pump until the file MARKER exists (at most 20 s); for screen captures
//
// The driver creates three auto-reset events named "Local\vennholt-e2e-SESSION-request", "-reply"
// and "-finish". On a request the host pumps once more and then sets the reply: whatever the driver
// posted before its request has been handled by then. On finish the host stops pumping and reports.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "shell/dialog_run_host.h"
#include "shell/display_monitors.h"
#include "shell/message_pump.h"
#include "shell/monitor_list.h"
#include "shell/progress_dialog.h"
#include "shell/window_title.h"
#include "tests/e2e/e2e_texts.h"

namespace {

constexpr DWORD longestRunMs = 20000;

// Pump calls that returned 1 (the quit message or a failure while handling a message).
unsigned stops = 0;

void pump() {
    if (pumpMessages() == 1) {
        ++stops;
    }
}

HANDLE openEvent(const std::string& session, const char* role) {
    const std::string name = "Local\\vennholt-e2e-" + session + "-" + role;
    return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

// Waits for whichever comes first: a message, one of the events, or a short time.
DWORD waitForWork(DWORD count, const HANDLE* events) {
    return MsgWaitForMultipleObjects(count, events, FALSE, 10, QS_ALLINPUT);
}

bool pumpForDriver(const std::string& session) {
    HANDLE request = openEvent(session, "request"), reply = openEvent(session, "reply"),
           finish = openEvent(session, "finish");
    if (request == nullptr || reply == nullptr || finish == nullptr) {
        std::fprintf(stderr, "dialog_host: the events of session %s are missing\n", session.c_str());
        return false;
    }
    const HANDLE events[] = {finish, request};
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < longestRunMs) {
        pump();
        const DWORD woken = waitForWork(2, events);
        if (woken == WAIT_OBJECT_0) {
            return true;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            pump();
            SetEvent(reply);
        }
    }
    std::fprintf(stderr, "dialog_host: the driver did not finish the session within %lu ms\n", longestRunMs);
    return false;
}

void pumpUntilFileExists(const char* marker) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < longestRunMs && GetFileAttributesA(marker) == INVALID_FILE_ATTRIBUTES) {
        pump();
        waitForWork(0, nullptr);
    }
}

bool writeReport(const char* path, HWND createdDialog) {
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) {
        return false;
    }
    const bool alive = IsWindow(createdDialog) != FALSE;
    HWND button = alive ? GetDlgItem(createdDialog, IDC_ABORT) : nullptr;
    std::fprintf(file, "cancel=%u\nabort=%u\nhandle=%s\nwindow=%s\nbutton=%s\nstops=%u\n", cancelFlag, abortFlag,
                 dialogHandle == nullptr ? "null" : (dialogHandle == createdDialog ? "dialog" : "other"),
                 alive ? "alive" : "gone",
                 button == nullptr ? "absent" : (IsWindowEnabled(button) ? "enabled" : "disabled"), stops);
    return std::fclose(file) == 0;
}

// What the updater shows while it installs the fourth of seven files, half-way through.
void showProgress() {
    const RunHost host = dialogRunHost();
    const RunControls controls = host.takeControls(host.context);
    host.setText(host.context, controls.label, cp932("data3.arcをインストール中").c_str());
    host.setRange(host.context, controls.fileBar, 0, 65535);
    host.setPosition(host.context, controls.fileBar, 32768);
    host.setRange(host.context, controls.overallBar, 0, 7);
    host.setPosition(host.context, controls.overallBar, 3);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: dialog_host SESSION REPORT | dialog_host --hold MARKER\n");
        return 2;
    }
    const std::string title = cp932(windowTitleUtf8);
    std::memcpy(windowTitle, title.c_str(), title.size() + 1);

    HWND dialog = createProgressDialog(GetModuleHandleA(nullptr));
    if (dialog == nullptr) {
        std::fprintf(stderr, "dialog_host: the dialog could not be created (error %lu)\n", GetLastError());
        return 1;
    }
    dialogHandle = dialog;
    collectMonitors();
    SetWindowTextA(dialog, windowTitle);
    centerDialog(dialog);
    ShowWindow(dialog, SW_SHOWNORMAL);
    showProgress();

    bool ok = true;
    if (std::strcmp(argv[1], "--hold") == 0) {
        pumpUntilFileExists(argv[2]);
    } else {
        ok = pumpForDriver(argv[1]) && writeReport(argv[2], dialog);
    }

    if (dialogHandle != nullptr) {
        DestroyWindow(dialogHandle);
        dialogHandle = nullptr;
    }
    freeMonitors();
    return ok ? 0 : 1;
}
