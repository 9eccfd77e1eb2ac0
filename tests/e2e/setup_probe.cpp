// A probe that the driver places into setup.exe's thread as two message hooks, to do what the driver
// cannot do from its own process:
// - hold the update run (WH_CALLWNDPROCRET): the run sets the file label once per entry, right before
//   it pumps messages for that entry. When the label has been set for the Nth time, the probe sets the
//   event "PREFIX-held" and waits (at most 30 s) for "PREFIX-release", N and PREFIX being what the
//   driver passed in VENNHOLT_E2E_HOLD ("N PREFIX"; N = 0: never). Whatever the driver posts meanwhile
//   is handled at the next pump, before entry N - 1 (from 0) is staged;
// - tell which standard icon a message box shows, as a window property (setup_probe.h): icons belong
//   to the process that loaded them, so only code inside setup.exe can compare them;
// - refuse the progress dialog (WH_CBT) when VENNHOLT_E2E_REFUSE_DIALOG is set: the one top-level
//   dialog-class window created from the program's own module.
#include "tests/e2e/setup_probe.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "resources/resource_ids.h"

namespace {

unsigned labelSets = 0;

void holdIfWanted() {
    char setting[256] = {}, prefix[256];
    unsigned long holdAt = 0;
    GetEnvironmentVariableA("VENNHOLT_E2E_HOLD", setting, sizeof setting - 1);
    if (std::sscanf(setting, "%lu %250s", &holdAt, prefix) != 2 || ++labelSets != holdAt) {
        return;
    }
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, (std::string(prefix) + "-held").c_str());
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (std::string(prefix) + "-release").c_str());
    if (held != nullptr && release != nullptr) {
        SetEvent(held);
        WaitForSingleObject(release, 30000);
    }
    CloseHandle(held);
    CloseHandle(release);
}

BOOL CALLBACK findIconControl(HWND child, LPARAM found) {
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        *reinterpret_cast<HWND*>(found) = child;
        return FALSE;
    }
    return TRUE;
}

// Marks a message box that has just been set up with the standard icon it shows.
void markIcon(HWND box) {
    HWND control = nullptr;
    EnumChildWindows(box, findIconControl, reinterpret_cast<LPARAM>(&control));
    uintptr_t icon = 0;  // none
    if (control != nullptr) {
        const auto shown = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
        const LPCSTR standard[] = {IDI_ASTERISK, IDI_EXCLAMATION, IDI_QUESTION, IDI_HAND};
        icon = 1;  // other
        for (uintptr_t i = 0; i < 4; ++i) {
            icon = shown != nullptr && shown == LoadIconA(nullptr, standard[i]) ? 2 + i : icon;
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
            holdIfWanted();
        } else if (call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, 0xFFFF) != nullptr) {
            markIcon(call->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
