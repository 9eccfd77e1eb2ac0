// A probe that the driver places into setup.exe's thread as two message hooks, to do what the driver
// cannot do from its own process:
// - hold the update run (WH_CALLWNDPROCRET): the run sets the file label right before it pumps messages
//   for an entry. At the Nth time (N from VENNHOLT_E2E_HOLD) the probe sets the held event and waits (at
//   most 30 s) for the release event; what the driver posts meanwhile acts before entry N - 1 is staged.
//   Where a hold is asked for, the run is held once more when the abort button is disabled, so that the
//   driver sees the dialog as the confirmed abort leaves it;
// - tell which standard icon a message box shows, as a window property: icons belong to the process
//   that loaded them, so only code inside setup.exe can compare them;
// - refuse the progress dialog (WH_CBT) when VENNHOLT_E2E_REFUSE_DIALOG is set: the one top-level
//   dialog-class window created from the program's own module.
#include "tests/e2e/setup_probe.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>

#include "resources/resource_ids.h"

namespace {

unsigned labelSets = 0;

void hold() {
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, heldEventName);  // both closed when setup.exe ends
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseEventName);
    if (held != nullptr && release != nullptr) {
        SetEvent(held);
        WaitForSingleObject(release, 30000);
    }
}

unsigned long holdSetting() {
    char setting[16] = {};
    GetEnvironmentVariableA("VENNHOLT_E2E_HOLD", setting, sizeof setting - 1);
    return std::strtoul(setting, nullptr, 10);
}

// Marks a message box that has just been set up with the standard icon its icon control shows.
void markIcon(HWND box) {
    const LPCSTR standard[] = {IDI_ASTERISK, IDI_EXCLAMATION, IDI_QUESTION, IDI_HAND};
    uintptr_t icon = 0;  // none; 1: another icon; 2 + i: standard[i]
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            const auto shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            icon = 1;
            for (uintptr_t i = 0; i < 4; ++i) {
                icon = shown != nullptr && shown == LoadIconA(nullptr, standard[i]) ? 2 + i : icon;
            }
        }
    }
    SetPropA(box, probeIconProperty, reinterpret_cast<HANDLE>(icon + 1));
}

}  // namespace

// WH_CBT: runs before a window of the thread is created.
extern "C" __declspec(dllexport) LRESULT CALLBACK setupProbeCreateHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && GetEnvironmentVariableA("VENNHOLT_E2E_REFUSE_DIALOG", nullptr, 0) > 0) {
        const CREATESTRUCTA& window = *reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs;
        if (window.lpszClass == MAKEINTRESOURCEA(0x8002) && window.hwndParent == nullptr &&
            window.hInstance == GetModuleHandleA(nullptr)) {
            return 1;  // the window is not created
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// WH_CALLWNDPROCRET: runs after a window of the thread has handled a message sent to it.
extern "C" __declspec(dllexport) LRESULT CALLBACK setupProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (call->message == WM_SETTEXT && GetDlgCtrlID(call->hwnd) == IDC_FILE_LABEL) {
            if (++labelSets == holdSetting()) hold();
        } else if (call->message == WM_ENABLE && call->wParam == FALSE && GetDlgCtrlID(call->hwnd) == IDC_ABORT) {
            if (holdSetting() != 0) hold();
        } else if (call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, 0xFFFF) != nullptr) {
            markIcon(call->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
