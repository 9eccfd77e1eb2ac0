// A probe that the driver places into setup.exe's thread as a message hook (WH_CALLWNDPROCRET, called
// after a window of the thread has handled a message sent to it). It does two things the driver
// cannot do from its own process:
//
// - It holds the update run at a known step. The run sets the file label once per entry, right
//   before it pumps messages for that entry; when the label has been set for the Nth time, the probe
//   signals the driver and waits until the driver lets the run go on. Whatever the driver posts to
//   the dialog meanwhile is handled at the run's next pump, that is, before entry N - 1 (counting
//   from 0) is staged. The label already shows its new text while the run is held.
// - It tells which standard icon a message box shows: icons belong to the process that loaded them,
//   so only code inside setup.exe can compare them. The answer is left on the box as the window
//   property "vennholt-e2e-icon" (see probeIconNames), which the driver reads.
//
// - As a second hook (WH_CBT), it can refuse to let the progress dialog be created, when the
//   environment variable VENNHOLT_E2E_REFUSE_DIALOG is set: the dialog is the one top-level
//   dialog-class window created from the program's own module (message boxes come from the
//   platform's).
//
// The driver passes "N PREFIX" in the environment variable VENNHOLT_E2E_HOLD of the copy it starts
// (N = 0: never hold); the events are named "PREFIX-held" (set by the probe) and "PREFIX-release"
// (set by the driver). The probe waits at most holdLimitMs, so a driver that went away never stops
// the run for good.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "resources/resource_ids.h"
#include "tests/e2e/setup_probe.h"

namespace {

constexpr DWORD holdLimitMs = 30000;

unsigned labelSets = 0;

void holdIfWanted() {
    char setting[256];
    const DWORD length = GetEnvironmentVariableA("VENNHOLT_E2E_HOLD", setting, sizeof setting);
    if (length == 0 || length >= sizeof setting) {
        return;
    }
    char* prefix = nullptr;
    const unsigned long wanted = std::strtoul(setting, &prefix, 10);
    if (++labelSets != wanted || *prefix != ' ') {
        return;
    }
    ++prefix;
    char name[300];
    std::snprintf(name, sizeof name, "%s-held", prefix);
    HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    std::snprintf(name, sizeof name, "%s-release", prefix);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, name);
    if (held != nullptr && release != nullptr) {
        SetEvent(held);
        WaitForSingleObject(release, holdLimitMs);
    }
    for (HANDLE event : {held, release}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
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
    uintptr_t icon = probeIconNone;
    if (control != nullptr) {
        const auto shown = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
        const std::pair<uintptr_t, LPCSTR> icons[] = {{probeIconInformation, IDI_ASTERISK},
                                                      {probeIconWarning, IDI_EXCLAMATION},
                                                      {probeIconQuestion, IDI_QUESTION},
                                                      {probeIconError, IDI_HAND}};
        icon = probeIconOther;
        for (const auto& [value, id] : icons) {
            if (shown != nullptr && shown == LoadIconA(nullptr, id)) {
                icon = value;
            }
        }
    }
    SetPropA(box, probeIconProperty, reinterpret_cast<HANDLE>(icon));
}

bool isProgressDialog(const CREATESTRUCTA& window) {
    const bool dialogClass = IS_INTRESOURCE(window.lpszClass) && reinterpret_cast<uintptr_t>(window.lpszClass) == 0x8002;
    return dialogClass && window.hwndParent == nullptr && window.hInstance == GetModuleHandleA(nullptr);
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK setupProbeCreateHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && GetEnvironmentVariableA("VENNHOLT_E2E_REFUSE_DIALOG", nullptr, 0) > 0 &&
        isProgressDialog(*reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs)) {
        return 1;  // the window is not created
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

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
