// A probe that the driver places into setup.exe's thread as two message hooks. It does what the
// driver cannot do from its own process:
//
// - It holds the update run at a known step (WH_CALLWNDPROCRET, called after a window of the thread
//   has handled a message sent to it). The run sets the file label once per entry, right before it
//   pumps messages for that entry; when the label has been set for the Nth time, the probe signals
//   the driver and waits until the driver lets the run go on. Whatever the driver posts to the
//   dialog meanwhile is handled at the run's next pump, that is, before entry N - 1 (counting from
//   0) is staged. The label already shows its new text while the run is held.
// - It tells which standard icon a message box shows: icons belong to the process that loaded them,
//   so only code inside setup.exe can compare them. The answer is left on the box as a window
//   property (setup_probe.h), which the driver reads.
// - It watches DestroyWindow through the program's import table and signals the driver when the
//   program destroys a window that no longer exists, as it would if it destroyed the progress
//   dialog a second time after the dialog had been closed.
// - It can refuse to let the progress dialog be created (WH_CBT), when the environment variable
//   VENNHOLT_E2E_REFUSE_DIALOG is set: the dialog is the one top-level dialog-class window created
//   from the program's own module (message boxes come from the platform's).
//
// The driver passes "N PREFIX" in the environment variable VENNHOLT_E2E_HOLD of the copy it starts
// (N = 0: never hold). The events are named "PREFIX-held" (set by the probe), "PREFIX-release" (set
// by the driver) and "PREFIX-dead-destroyed" (set by the probe). The probe waits at most
// holdLimitMs, so a driver that went away never stops the run for good.
#include "tests/e2e/setup_probe.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "resources/resource_ids.h"

namespace {

constexpr DWORD holdLimitMs = 30000;

unsigned labelSets = 0;

// The hold count and the event prefix the driver passed; false when there are none.
bool driverSetting(unsigned long* holdAt, std::string* prefix) {
    char setting[256];
    const DWORD length = GetEnvironmentVariableA("VENNHOLT_E2E_HOLD", setting, sizeof setting);
    if (length == 0 || length >= sizeof setting) {
        return false;
    }
    char* rest = nullptr;
    *holdAt = std::strtoul(setting, &rest, 10);
    if (*rest != ' ') {
        return false;
    }
    *prefix = rest + 1;
    return true;
}

void signal(const char* role) {
    unsigned long holdAt;
    std::string prefix;
    if (!driverSetting(&holdAt, &prefix)) {
        return;
    }
    if (HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, (prefix + "-" + role).c_str())) {
        SetEvent(event);
        CloseHandle(event);
    }
}

void holdIfWanted() {
    unsigned long holdAt;
    std::string prefix;
    if (!driverSetting(&holdAt, &prefix) || ++labelSets != holdAt) {
        return;
    }
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, (prefix + "-release").c_str());
    if (release != nullptr) {
        signal("held");
        WaitForSingleObject(release, holdLimitMs);
        CloseHandle(release);
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

// ---- DestroyWindow, watched

using DestroyWindowFunction = BOOL(WINAPI*)(HWND);
DestroyWindowFunction platformDestroyWindow = nullptr;

BOOL WINAPI watchedDestroyWindow(HWND window) {
    if (!IsWindow(window)) {
        signal("dead-destroyed");
    }
    return platformDestroyWindow(window);
}

// Points the program's import of user32's DestroyWindow at watchedDestroyWindow.
void watchDestroyWindow() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         imports.VirtualAddress != 0 && library->Name != 0; ++library) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "user32.dll") != 0) {
            continue;
        }
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "DestroyWindow") != 0) {
                continue;
            }
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            platformDestroyWindow = reinterpret_cast<DestroyWindowFunction>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(watchedDestroyWindow);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        }
    }
}

bool isProgressDialog(const CREATESTRUCTA& window) {
    const bool dialogClass =
        IS_INTRESOURCE(window.lpszClass) && reinterpret_cast<uintptr_t>(window.lpszClass) == 0x8002;
    return dialogClass && window.hwndParent == nullptr && window.hInstance == GetModuleHandleA(nullptr);
}

}  // namespace

// WH_CBT: runs before a window of the thread is created (and the first message of the thread).
extern "C" __declspec(dllexport) LRESULT CALLBACK setupProbeCreateHook(int code, WPARAM wParam, LPARAM lParam) {
    watchDestroyWindow();
    if (code == HCBT_CREATEWND && GetEnvironmentVariableA("VENNHOLT_E2E_REFUSE_DIALOG", nullptr, 0) > 0 &&
        isProgressDialog(*reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs)) {
        return 1;  // the window is not created
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// WH_CALLWNDPROCRET.
extern "C" __declspec(dllexport) LRESULT CALLBACK setupProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    watchDestroyWindow();
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
