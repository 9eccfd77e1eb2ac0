// The end-to-end driver, "driver setup SETUP_EXE FOLDER STEP...": runs setup.exe as a player, the game
// or another copy of the updater would and prints what it saw, one line per observation, for
// setup_e2e.py to compare (texts as code page 932 bytes in hex; FOLDER is the install folder). Every wait is
// bounded; a step that cannot be done prints "error step=..." and ends the steps with exit status 1.
//   mutex:NAME        create the named mutex and hold it until the driver ends
//   start[:N]         start copy K = 1, 2, ...; with N, its run is held when the file label is set for
//                     the Nth time (setup_probe.cpp); start:no-dialog refuses its progress dialog
//   box               wait for a box: "box copy=K text= caption= owner=none|dialog|other buttons=yes,no
//                     default=no icon=question"; answer:yes|no|ok answers it and waits until it is gone
//   held              wait for the held run: "held label= caption= visible=1 centred=1 abort=enabled|disabled"
//   click|close|quit  post a click on the abort button or WM_CLOSE to copy 1's dialog, WM_QUIT to its thread
//   ignored           post the system close command (Alt+F4) and Escape's IDCANCEL, which the dialog ignores
//   wait-file:PATH    wait until PATH exists
//   hold:NAME[:MS]    open FOLDER\NAME as a virus scanner would, sharing reading but not deletion, and
//                     keep it open for MS milliseconds, or until the driver ends
//   exit:K            wait for copy K to end: "exit copy=K status=0xXXXXXXXX"; a box of K shown meanwhile
//                     is printed with " unexpected=1" and answered No (or OK)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/setup_probe.h"

namespace {

constexpr DWORD waitMs = 20000;  // reached only when something went wrong
constexpr int boxTextId = 0xFFFF;

std::string setupPath, installFolder;
std::vector<PROCESS_INFORMATION> copies;
HANDLE heldEvent = CreateEventA(nullptr, FALSE, FALSE, heldEventName);  // of the one copy whose run is held
HANDLE releaseEvent = CreateEventA(nullptr, FALSE, FALSE, releaseEventName);
HWND lastBox = nullptr;
bool failed = false;

// A file held open, closed after a while on a thread of its own.
struct TimedHold {
    HANDLE file;
    DWORD milliseconds;
};
DWORD WINAPI closeLater(void* context) {
    const TimedHold* hold = static_cast<const TimedHold*>(context);
    Sleep(hold->milliseconds);
    CloseHandle(hold->file);
    delete hold;
    return 0;
}

bool fail(const std::string& step, const std::string& what) {
    std::printf("error step=%s what=%s\n", step.c_str(), what.c_str());
    failed = true;
    return false;
}

// The stored window text, which the platform gives without asking the (possibly held) other process.
std::string hexText(HWND window) {
    char text[1024], digits[3];
    std::string hex;
    for (int i = 0, length = GetWindowTextA(window, text, sizeof text); i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(text[i]));
        hex += digits;
    }
    return hex;
}

template <typename Found>
auto waitFor(Found found) {
    const DWORD start = GetTickCount();
    auto result = found();
    for (; !result && GetTickCount() - start < waitMs; result = found()) {
        Sleep(10);
    }
    return result;
}

bool gone(HWND window) {
    return waitFor([window] { return IsWindow(window) == FALSE; });
}

size_t copyOf(HWND window) {  // 1, 2, ...; 0 for a window of no copy
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    size_t copy = copies.size();
    while (copy > 0 && copies[copy - 1].dwProcessId != processId) {
        --copy;
    }
    return copy;
}

// A top-level dialog-class window with this control, of copy K (0: of any copy).
HWND findDialog(int control, size_t copy) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr &&
           (GetDlgItem(window, control) == nullptr || copyOf(window) == 0 || (copy != 0 && copyOf(window) != copy))) {
    }
    return window;
}

// A visible message box that the probe has marked with its icon.
HWND findBox(size_t copy) {
    HWND box = findDialog(boxTextId, copy);
    return box != nullptr && IsWindowVisible(box) && GetPropA(box, probeIconProperty) != nullptr ? box : nullptr;
}

bool postClick(HWND dialog, int id) {
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, id))) != FALSE;
}

void printBox(HWND box, const char* unexpected) {
    std::string buttons, defaultButton = "none";
    for (const auto& [name, id] : {std::pair{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}}) {
        if (HWND button = GetDlgItem(box, id)) {
            buttons += (buttons.empty() ? "" : ",") + std::string(name);
            defaultButton =
                (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON ? name : defaultButton;
        }
    }
    const size_t copy = copyOf(box);
    HWND owner = GetWindow(box, GW_OWNER), dialog = findDialog(IDC_ABORT, copy);
    const auto icon = reinterpret_cast<uintptr_t>(GetPropA(box, probeIconProperty));
    std::printf("box copy=%zu text=%s caption=%s owner=%s buttons=%s default=%s icon=%s%s\n", copy,
                hexText(GetDlgItem(box, boxTextId)).c_str(), hexText(box).c_str(),
                owner == nullptr ? "none" : (owner == dialog ? "dialog" : "other"), buttons.c_str(),
                defaultButton.c_str(),
                icon - 1 < sizeof probeIcons / sizeof *probeIcons ? probeIcons[icon - 1] : "unknown", unexpected);
}

bool start(const std::string& argument) {
    PROCESS_INFORMATION copy{};
    SetEnvironmentVariableA("VENNHOLT_E2E_HOLD", argument == "no-dialog" ? "0" : argument.c_str());
    SetEnvironmentVariableA("VENNHOLT_E2E_REFUSE_DIALOG", argument == "no-dialog" ? "1" : nullptr);
    std::string commandLine = "\"" + setupPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // Suspended until the probe is in place, before the program's first message.
    if (!CreateProcessA(setupPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &copy)) {
        return fail("start", "CreateProcess failed with " + std::to_string(GetLastError()));
    }
    copies.push_back(copy);
    HMODULE probe = LoadLibraryA(probeDllName);  // from the driver's own folder, searched first
    bool placed = true;
    for (const auto& [name, kind] : {std::pair{probeHookName, WH_CALLWNDPROCRET}, {probeCreateHookName, WH_CBT}}) {
        const auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(probe, name)));
        placed = placed && hook != nullptr && SetWindowsHookExA(kind, hook, probe, copy.dwThreadId) != nullptr;
    }
    ResumeThread(copy.hThread);
    return placed || fail("start", "the probe could not be placed");
}

bool waitForExit(size_t number) {
    const HANDLE process = copies.at(number - 1).hProcess;
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process, 10) == WAIT_TIMEOUT) {
        if (HWND box = findBox(number)) {
            printBox(box, " unexpected=1");
            postClick(box, GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK);
            gone(box);
        }
        if (GetTickCount() - start >= 2 * waitMs) {
            TerminateProcess(process, 0xDEAD);
            return fail("exit", "copy " + std::to_string(number) + " did not end; terminated");
        }
    }
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    std::printf("exit copy=%zu status=0x%08lX\n", number, static_cast<unsigned long>(status));
    return true;
}

BOOL CALLBACK firstMonitor(HMONITOR, HDC, LPRECT rect, LPARAM first) {
    *reinterpret_cast<RECT*>(first) = *rect;
    return FALSE;
}

bool runStep(const std::string& step) {
    const size_t colon = step.find(':');
    const std::string name = step.substr(0, colon), argument = colon == std::string::npos ? "" : step.substr(colon + 1);
    HWND dialog = findDialog(IDC_ABORT, 1);
    bool done = false;
    if (name == "mutex") {
        done = CreateMutexA(nullptr, TRUE, argument.c_str()) != nullptr;
    } else if (name == "start") {
        return start(argument);
    } else if (name == "box") {
        lastBox = waitFor([] { return findBox(0); });
        if ((done = lastBox != nullptr)) {
            printBox(lastBox, "");
        }
    } else if (name == "answer") {
        const int id = argument == "yes" ? IDYES : argument == "no" ? IDNO : argument == "ok" ? IDOK : 0;
        done = lastBox != nullptr && id != 0 && postClick(lastBox, id) && gone(lastBox);
        lastBox = nullptr;
    } else if (name == "held" && (done = WaitForSingleObject(heldEvent, waitMs) == WAIT_OBJECT_0)) {
        RECT window{}, monitor{};
        GetWindowRect(dialog = findDialog(IDC_ABORT, 1), &window);
        EnumDisplayMonitors(nullptr, nullptr, firstMonitor, reinterpret_cast<LPARAM>(&monitor));
        const bool centred =
            window.left == monitor.left + ((monitor.right - monitor.left) - (window.right - window.left)) / 2 &&
            window.top == monitor.top + ((monitor.bottom - monitor.top) - (window.bottom - window.top)) / 2;
        std::printf("held label=%s caption=%s visible=%d centred=%d abort=%s\n",
                    hexText(GetDlgItem(dialog, IDC_FILE_LABEL)).c_str(), hexText(dialog).c_str(),
                    IsWindowVisible(dialog) ? 1 : 0, centred ? 1 : 0,
                    IsWindowEnabled(GetDlgItem(dialog, IDC_ABORT)) ? "enabled" : "disabled");
    } else if (name == "release") {
        done = SetEvent(releaseEvent);
    } else if (name == "click" || name == "close") {
        done = name == "click" ? postClick(dialog, IDC_ABORT) : PostMessageA(dialog, WM_CLOSE, 0, 0) != FALSE;
    } else if (name == "ignored") {
        done = PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0) && PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    } else if (name == "quit") {
        done = PostThreadMessageA(copies.at(0).dwThreadId, WM_QUIT, 0, 0);
    } else if (name == "hold") {
        const size_t colon = argument.find(':');
        const std::string path = installFolder + "\\" + argument.substr(0, colon);
        const HANDLE held =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        done = held != INVALID_HANDLE_VALUE;
        if (done && colon != std::string::npos) {
            done = CreateThread(nullptr, 0, closeLater, new TimedHold{held, std::stoul(argument.substr(colon + 1))}, 0,
                                nullptr) != nullptr;
        }
    } else if (name == "wait-file") {
        done = waitFor([&argument] { return GetFileAttributesA(argument.c_str()) != INVALID_FILE_ATTRIBUTES; });
    } else if (name == "exit") {
        return waitForExit(std::stoul(argument));
    }
    return done || fail(step, "could not be done");
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line is out even if the driver is stopped
    if (argc < 4 || std::string(argv[1]) != "setup") {
        std::fprintf(stderr, "usage: driver setup SETUP_EXE INSTALL_FOLDER STEP...\n");
        return 2;
    }
    setupPath = argv[2];
    installFolder = argv[3];
    for (int i = 4; i < argc && runStep(argv[i]); ++i) {
    }
    // Nothing is left running: a held run is let go, and every copy ends.
    SetEvent(releaseEvent);
    for (const PROCESS_INFORMATION& copy : copies) {
        if (WaitForSingleObject(copy.hProcess, waitMs) != WAIT_OBJECT_0) {
            TerminateProcess(copy.hProcess, 0xDEAD);
            fail("end", "a copy was still running; terminated");
        }
    }
    return failed ? 1 : 0;
}
