// Steps of the driver's setup mode, in the order given on the command line:
//
//   engine-mutex   create the game's mutex and hold it until the driver ends, as the game would
//   start[:N]      start a copy of setup.exe (copies are numbered 1, 2, ... in order); with N, its
//                  update run is held when the file label is set for the Nth time (setup_probe.cpp)
//   start:no-dialog  start a copy that cannot create its progress dialog
//   box            wait for a message box of any copy and report it
//   answer:A       answer the box reported last with yes, no or ok, and wait until it is gone
//   held           wait until the held copy's run stops at its label, and report the label
//   release        let the held run go on
//   click          post a click on the abort button of the progress dialog
//   close          post WM_CLOSE to the progress dialog
//   quit           post WM_QUIT to the thread of copy 1
//   staging        report how the install folder differs from when the driver started
//   wait-file:PATH wait (at most a minute) until PATH exists, as when another program takes a
//                  screen capture of a held run and then creates PATH
//   exit:K         wait for copy K to end and report its exit status; a message box that appears
//                  meanwhile is reported as unexpected and answered No (or OK)
//
// Report lines (texts as code page 932 bytes in hex):
//   box copy=K text=HEX caption=HEX owner=none|dialog|other buttons=yes,no default=no icon=question
//   held copy=K label=HEX caption=HEX visible=0|1    (the progress dialog while the run is held)
//   staging new=NAME,... changed=NAME,...
//   exit copy=K status=0xXXXXXXXX
//   dead-destroyed copy=K    (after the exit line: the copy destroyed a window that no longer existed)
//   error step=STEP what=...
// At the end every copy still running is waited for and, if need be, terminated (reported as error).
#include "tests/e2e/setup_driver.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/setup_probe.h"
#include "tests/e2e/window_driver.h"

namespace {

// The longest wait for a box, a held run or (twice that) the end of a copy; generous, as the machine
// may be busy, and only reached when something went wrong.
constexpr DWORD setupWaitMs = 20000;

constexpr char engineMutexName[] = "Pelmar General Interpreter for Vennholt is executing.";

struct Copy {
    PROCESS_INFORMATION process{};
    std::string eventPrefix;  // of the hold events
    HANDLE held = nullptr;    // both null when the run is not held
    HANDLE release = nullptr;
    HANDLE deadDestroyed = nullptr;  // set when the copy destroys a window that no longer exists
    bool ended = false;
};

struct FileState {
    uint64_t size;
    uint64_t hash;
};
using FolderState = std::map<std::string, FileState>;

struct Session {
    std::string setupPath;
    std::string folder;
    FolderState before;
    std::vector<Copy> copies;
    HANDLE engineMutex = nullptr;
    HWND lastBox = nullptr;
    bool failed = false;
};

std::string hex(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

void error(Session& session, const std::string& step, const std::string& what) {
    std::printf("error step=%s what=%s\n", step.c_str(), what.c_str());
    session.failed = true;
}

std::string ownFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string own(path, length < MAX_PATH ? length : 0);
    return own.substr(0, own.find_last_of('\\') + 1);
}

// ---- the install folder

uint64_t fileHash(const std::string& path, uint64_t* size) {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    *size = 0;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    static char buffer[1 << 16];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; ++i) {
            hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211ull;
        }
        *size += got;
    }
    CloseHandle(file);
    return hash;
}

void scanFolder(const std::string& root, const std::string& relative, FolderState& state) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            state[relative + name + "\\"] = FileState{0, 0};
            scanFolder(root, relative + name + "\\", state);
        } else {
            FileState file{};
            file.hash = fileHash(root + relative + name, &file.size);
            state[relative + name] = file;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

FolderState folderState(const std::string& folder) {
    FolderState state;
    scanFolder(folder + "\\", "", state);
    return state;
}

void reportStaging(Session& session) {
    const FolderState now = folderState(session.folder);
    std::string added, changed;
    for (const auto& [name, file] : now) {
        const auto old = session.before.find(name);
        if (old == session.before.end()) {
            added += (added.empty() ? "" : ",") + name;
        } else if (old->second.size != file.size || old->second.hash != file.hash) {
            changed += (changed.empty() ? "" : ",") + name;
        }
    }
    for (const auto& [name, file] : session.before) {
        if (now.find(name) == now.end()) {
            changed += (changed.empty() ? "" : ",") + name;
        }
    }
    std::printf("staging new=%s changed=%s\n", added.c_str(), changed.c_str());
}

// ---- copies of setup.exe

int copyOfProcess(const Session& session, DWORD processId) {
    for (size_t i = 0; i < session.copies.size(); ++i) {
        if (session.copies[i].process.dwProcessId == processId) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

int copyOfWindow(const Session& session, HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return copyOfProcess(session, processId);
}

bool placeProbe(Session& session, HMODULE probe, const char* name, int kind, DWORD threadId) {
    const auto hook = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(probe, name)));
    if (hook == nullptr || SetWindowsHookExA(kind, hook, probe, threadId) == nullptr) {
        error(session, "start",
              std::string("the probe's ") + name + " could not be placed (" + std::to_string(GetLastError()) + ")");
        return false;
    }
    return true;
}

bool startCopy(Session& session, unsigned holdAt, bool refuseDialog) {
    Copy copy;
    const std::string number = std::to_string(session.copies.size() + 1);
    copy.eventPrefix = "Local\\vennholt-e2e-" + std::to_string(GetCurrentProcessId()) + "-" + number;
    if (holdAt > 0) {
        copy.held = CreateEventA(nullptr, FALSE, FALSE, (copy.eventPrefix + "-held").c_str());
        copy.release = CreateEventA(nullptr, FALSE, FALSE, (copy.eventPrefix + "-release").c_str());
    }
    copy.deadDestroyed = CreateEventA(nullptr, TRUE, FALSE, (copy.eventPrefix + "-dead-destroyed").c_str());
    SetEnvironmentVariableA("VENNHOLT_E2E_HOLD", (std::to_string(holdAt) + " " + copy.eventPrefix).c_str());
    SetEnvironmentVariableA("VENNHOLT_E2E_REFUSE_DIALOG", refuseDialog ? "1" : nullptr);
    std::string commandLine = "\"" + session.setupPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    // Started suspended, so that the probe is in place before the program's first message.
    if (!CreateProcessA(session.setupPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &copy.process)) {
        error(session, "start", "CreateProcess failed with " + std::to_string(GetLastError()));
        return false;
    }
    HMODULE probe = LoadLibraryA((ownFolder() + probeDllName).c_str());
    placeProbe(session, probe, probeHookName, WH_CALLWNDPROCRET, copy.process.dwThreadId);
    placeProbe(session, probe, probeCreateHookName, WH_CBT, copy.process.dwThreadId);
    ResumeThread(copy.process.hThread);
    session.copies.push_back(copy);
    return true;
}

HWND progressDialog(const Session& session, int copy) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
        if (GetDlgItem(window, IDC_ABORT) != nullptr && GetDlgItem(window, IDC_FILE_BAR) != nullptr &&
            copyOfWindow(session, window) == copy) {
            return window;
        }
    }
    return nullptr;
}

// ---- message boxes

// A visible message box (a dialog with the box's text control) of one of our copies.
HWND findBox(const Session& session) {
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, "#32770", nullptr)) != nullptr) {
        if (GetDlgItem(window, messageBoxTextId) != nullptr && IsWindowVisible(window) &&
            copyOfWindow(session, window) != 0) {
            return window;
        }
    }
    return nullptr;
}

// The standard icon the box shows, as the probe inside setup.exe found it.
std::string boxIcon(HWND box) {
    switch (reinterpret_cast<uintptr_t>(GetPropA(box, probeIconProperty))) {
        case probeIconNone:
            return "none";
        case probeIconInformation:
            return "information";
        case probeIconWarning:
            return "warning";
        case probeIconQuestion:
            return "question";
        case probeIconError:
            return "error";
        case probeIconOther:
            return "other";
        default:
            return "unknown";
    }
}

void reportBox(const Session& session, HWND box, bool unexpected) {
    std::string buttons, defaultButton;
    const std::pair<const char*, int> known[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    for (const auto& [name, id] : known) {
        if (GetDlgItem(box, id) != nullptr) {
            buttons += (buttons.empty() ? "" : ",") + std::string(name);
            if (isDefaultButton(box, id)) {
                defaultButton = name;
            }
        }
    }
    const int copy = copyOfWindow(session, box);
    HWND owner = GetWindow(box, GW_OWNER);
    const char* ownerName = owner == nullptr ? "none" : (owner == progressDialog(session, copy) ? "dialog" : "other");
    std::printf("box copy=%d text=%s caption=%s owner=%s buttons=%s default=%s icon=%s%s\n", copy,
                hex(controlText(box, messageBoxTextId)).c_str(), hex(windowText(box)).c_str(), ownerName,
                buttons.c_str(), defaultButton.empty() ? "none" : defaultButton.c_str(), boxIcon(box).c_str(),
                unexpected ? " unexpected=1" : "");
}

// Waits for a box and reports it once the probe has marked its icon (the box can become visible
// while it is still being set up); a box the probe never marks is reported when the time is up.
bool waitForBox(Session& session) {
    const DWORD start = GetTickCount();
    HWND box = nullptr;
    do {
        box = findBox(session);
        if (box != nullptr && GetPropA(box, probeIconProperty) != nullptr) {
            break;
        }
        Sleep(10);
    } while (GetTickCount() - start < setupWaitMs);
    if (box == nullptr) {
        error(session, "box", "no message box appeared");
        return false;
    }
    reportBox(session, box, false);
    session.lastBox = box;
    return true;
}

bool answerBox(Session& session, const std::string& answer) {
    const int id = answer == "yes" ? IDYES : answer == "no" ? IDNO : answer == "ok" ? IDOK : 0;
    if (session.lastBox == nullptr || id == 0) {
        error(session, "answer", "no box to answer with '" + answer + "'");
        return false;
    }
    postAnswer(session.lastBox, id);
    if (!waitForWindowGone(session.lastBox)) {
        error(session, "answer", "the box did not close");
        return false;
    }
    session.lastBox = nullptr;
    return true;
}

// ---- the run and its end

bool waitHeld(Session& session) {
    for (size_t i = 0; i < session.copies.size(); ++i) {
        Copy& copy = session.copies[i];
        if (copy.held == nullptr) {
            continue;
        }
        if (WaitForSingleObject(copy.held, setupWaitMs) != WAIT_OBJECT_0) {
            error(session, "held", "the run did not reach its label");
            return false;
        }
        HWND dialog = progressDialog(session, static_cast<int>(i) + 1);
        std::printf("held copy=%zu label=%s caption=%s visible=%d\n", i + 1,
                    hex(controlText(dialog, IDC_FILE_LABEL)).c_str(), hex(windowText(dialog)).c_str(),
                    dialog != nullptr && IsWindowVisible(dialog) ? 1 : 0);
        return true;
    }
    error(session, "held", "no copy is held");
    return false;
}

bool releaseHeld(Session& session) {
    for (Copy& copy : session.copies) {
        if (copy.release != nullptr) {
            SetEvent(copy.release);
            return true;
        }
    }
    error(session, "release", "no copy is held");
    return false;
}

bool postToDialog(Session& session, const std::string& step) {
    HWND dialog = progressDialog(session, 1);
    if (dialog == nullptr) {
        error(session, step, "no progress dialog");
        return false;
    }
    const BOOL posted = step == "click" ? postClick(dialog, IDC_ABORT) : PostMessageA(dialog, WM_CLOSE, 0, 0);
    if (!posted) {
        error(session, step, "the message could not be posted");
    }
    return posted != FALSE;
}

// The quit message goes to the thread of copy 1 that runs the update, not to a window.
bool postQuit(Session& session) {
    if (session.copies.empty() || PostThreadMessageA(session.copies[0].process.dwThreadId, WM_QUIT, 0, 0) == 0) {
        error(session, "quit", "the quit message could not be posted");
        return false;
    }
    return true;
}

bool waitForExit(Session& session, size_t number, DWORD timeoutMs) {
    if (number < 1 || number > session.copies.size()) {
        error(session, "exit", "no copy " + std::to_string(number));
        return false;
    }
    Copy& copy = session.copies[number - 1];
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(copy.process.hProcess, 10) == WAIT_TIMEOUT) {
        if (HWND box = findBox(session); box != nullptr && copyOfWindow(session, box) == static_cast<int>(number)) {
            reportBox(session, box, true);
            postAnswer(box, GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK);
            waitForWindowGone(box);
        }
        if (GetTickCount() - start >= timeoutMs) {
            error(session, "exit", "copy " + std::to_string(number) + " did not end; terminated");
            TerminateProcess(copy.process.hProcess, 0xDEAD);
            WaitForSingleObject(copy.process.hProcess, driverWaitMs);
            copy.ended = true;
            return false;
        }
    }
    DWORD status = 0;
    GetExitCodeProcess(copy.process.hProcess, &status);
    std::printf("exit copy=%zu status=0x%08lX\n", number, static_cast<unsigned long>(status));
    if (WaitForSingleObject(copy.deadDestroyed, 0) == WAIT_OBJECT_0) {
        std::printf("dead-destroyed copy=%zu\n", number);
    }
    copy.ended = true;
    return true;
}

bool runStep(Session& session, const std::string& step) {
    const size_t colon = step.find(':');
    const std::string name = step.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : step.substr(colon + 1);
    if (name == "engine-mutex") {
        session.engineMutex = CreateMutexA(nullptr, TRUE, engineMutexName);
        return session.engineMutex != nullptr;
    }
    if (name == "start") {
        if (argument == "no-dialog") {
            return startCopy(session, 0, true);
        }
        return startCopy(session, argument.empty() ? 0 : static_cast<unsigned>(std::stoul(argument)), false);
    }
    if (name == "box") {
        return waitForBox(session);
    }
    if (name == "answer") {
        return answerBox(session, argument);
    }
    if (name == "held") {
        return waitHeld(session);
    }
    if (name == "release") {
        return releaseHeld(session);
    }
    if (name == "click" || name == "close") {
        return postToDialog(session, name);
    }
    if (name == "quit") {
        return postQuit(session);
    }
    if (name == "staging") {
        reportStaging(session);
        return true;
    }
    if (name == "wait-file") {
        for (int tries = 0; tries < 600; ++tries) {
            if (GetFileAttributesA(argument.c_str()) != INVALID_FILE_ATTRIBUTES) {
                return true;
            }
            Sleep(100);
        }
        error(session, step, "the file did not appear");
        return false;
    }
    if (name == "exit") {
        return waitForExit(session, std::stoul(argument), setupWaitMs * 2);
    }
    error(session, step, "unknown step");
    return false;
}

}  // namespace

int runSetupSteps(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: driver setup SETUP_EXE INSTALL_FOLDER STEP...\n");
        return 2;
    }
    Session session;
    session.setupPath = argv[2];
    session.folder = argv[3];
    session.before = folderState(session.folder);
    for (int i = 4; i < argc; ++i) {
        if (!runStep(session, argv[i])) {
            break;
        }
    }
    // Nothing is left running: a held run is let go, and every copy is waited for.
    for (Copy& copy : session.copies) {
        if (copy.release != nullptr) {
            SetEvent(copy.release);
        }
    }
    for (size_t i = 0; i < session.copies.size(); ++i) {
        if (!session.copies[i].ended) {
            error(session, "end", "copy " + std::to_string(i + 1) + " was still running");
            waitForExit(session, i + 1, driverWaitMs);
        }
    }
    for (Copy& copy : session.copies) {
        for (HANDLE handle :
             {copy.process.hProcess, copy.process.hThread, copy.held, copy.release, copy.deadDestroyed}) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
    }
    if (session.engineMutex != nullptr) {
        CloseHandle(session.engineMutex);
    }
    return session.failed ? 1 : 0;
}
