// The end-to-end driver: starts the program under test, acts on its windows as a user or another
// program would, and reports what it saw.
//
//   driver SCENARIO [HOST]
//   driver setup SETUP_EXE INSTALL_FOLDER STEP...   (setup_driver.cpp)
//
// Each scenario starts dialog_host (HOST, by default the one beside the driver), waits for its
// progress dialog, clicks, answers and posts messages, and at the end compares the host's report of
// its stop flags and dialog state with what the scenario expects. Prints one line per check and last
// 'N passed, M failed'; the exit status is 0 only when every check passed. Every wait is bounded, and
// a host that does not end in time is terminated.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "resources/resource_ids.h"
#include "tests/e2e/e2e_texts.h"
#include "tests/e2e/setup_driver.h"
#include "tests/e2e/window_driver.h"

namespace {

struct Checks {
    int passed = 0;
    int failed = 0;

    bool expect(bool ok, const std::string& what, const std::string& detail = "") {
        std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
        (ok ? passed : failed)++;
        return ok;
    }
    bool expectBytes(const std::string& actual, const std::string& expected, const std::string& what) {
        return expect(actual == expected, what,
                      actual == expected ? "" : "got " + hex(actual) + ", expected " + hex(expected));
    }
    static std::string hex(const std::string& bytes) {
        std::string text;
        char digits[4];
        for (unsigned char byte : bytes) {
            std::snprintf(digits, sizeof digits, "%02X ", byte);
            text += digits;
        }
        return text.empty() ? "(empty)" : text;
    }
};

// One run of the host, with the events it synchronises on (see dialog_host.cpp).
struct HostSession {
    std::string name;
    std::string reportPath;
    PROCESS_INFORMATION process{};
    HANDLE request = nullptr;
    HANDLE reply = nullptr;
    HANDLE finish = nullptr;
    HWND dialog = nullptr;
};

const std::string title = cp932(windowTitleUtf8);

HANDLE createEvent(const std::string& session, const char* role) {
    return CreateEventA(nullptr, FALSE, FALSE, ("Local\\vennholt-e2e-" + session + "-" + role).c_str());
}

std::string defaultHostPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string own(path, length < MAX_PATH ? length : 0);
    return own.substr(0, own.find_last_of('\\') + 1) + "dialog_host.exe";
}

bool startHost(HostSession& session, const std::string& hostPath, Checks& checks) {
    session.name = std::to_string(GetCurrentProcessId());
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    session.reportPath = std::string(folder) + "vennholt-e2e-" + session.name + ".txt";
    DeleteFileA(session.reportPath.c_str());
    session.request = createEvent(session.name, "request");
    session.reply = createEvent(session.name, "reply");
    session.finish = createEvent(session.name, "finish");
    std::string commandLine = "\"" + hostPath + "\" " + session.name + " \"" + session.reportPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!checks.expect(CreateProcessA(hostPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &startup, &session.process) != 0,
                       "host started", hostPath)) {
        return false;
    }
    session.dialog = waitForDialogWithControl(title, IDC_ABORT);
    return checks.expect(session.dialog != nullptr, "progress dialog shown with the window title");
}

HWND findQuestion() { return findDialogWithControl(title, messageBoxTextId); }

// Lets the host pump once more after everything posted so far, so that it has all been handled.
// A message box that turns up meanwhile is a failure; it is answered No so that the host goes on.
bool sync(HostSession& session, Checks& checks, const char* what) {
    SetEvent(session.request);
    const DWORD start = GetTickCount();
    bool unexpectedBox = false;
    while (GetTickCount() - start < driverWaitMs) {
        if (WaitForSingleObject(session.reply, 20) == WAIT_OBJECT_0) {
            return checks.expect(!unexpectedBox, what, unexpectedBox ? "a message box appeared" : "");
        }
        if (HWND box = findQuestion()) {
            unexpectedBox = true;
            postAnswer(box, IDNO);
        }
    }
    return checks.expect(false, what, "the host did not answer");
}

std::map<std::string, std::string> finishHost(HostSession& session, Checks& checks) {
    std::map<std::string, std::string> report;
    if (session.process.hProcess == nullptr) {
        return report;
    }
    SetEvent(session.finish);
    if (WaitForSingleObject(session.process.hProcess, driverWaitMs) != WAIT_OBJECT_0) {
        checks.expect(false, "host ended", "terminated after " + std::to_string(driverWaitMs) + " ms");
        TerminateProcess(session.process.hProcess, 3);
        WaitForSingleObject(session.process.hProcess, driverWaitMs);
    } else {
        DWORD code = 0;
        GetExitCodeProcess(session.process.hProcess, &code);
        checks.expect(code == 0, "host ended cleanly", "exit code " + std::to_string(code));
    }
    std::ifstream file(session.reportPath);
    for (std::string line; std::getline(file, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            report[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    file.close();
    DeleteFileA(session.reportPath.c_str());
    for (HANDLE handle :
         {session.process.hProcess, session.process.hThread, session.request, session.reply, session.finish}) {
        CloseHandle(handle);
    }
    return report;
}

// ---- the abort question

// Waits for the abort question and checks it: text, caption, owner, buttons and the default "No".
HWND checkedQuestion(HostSession& session, Checks& checks) {
    HWND box = waitForDialogWithControl(title, messageBoxTextId);
    if (!checks.expect(box != nullptr, "abort question shown")) {
        return nullptr;
    }
    std::string expected = cp932("アップデートを中止しますか？");
    for (int i = 0; i < 12; ++i) {
        expected += cp932("\u3000");
    }
    checks.expectBytes(controlText(box, messageBoxTextId), expected, "question text with twelve U+3000");
    checks.expect(GetWindow(box, GW_OWNER) == session.dialog, "question owned by the dialog");
    checks.expect(GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr &&
                      GetDlgItem(box, IDOK) == nullptr && GetDlgItem(box, IDCANCEL) == nullptr,
                  "question offers Yes and No only");
    checks.expect(isDefaultButton(box, IDNO) && !isDefaultButton(box, IDYES), "No is the default answer");
    return box;
}

bool answerQuestion(HostSession& session, Checks& checks, int answer) {
    HWND box = checkedQuestion(session, checks);
    if (box == nullptr) {
        return false;
    }
    postAnswer(box, answer);
    return checks.expect(waitForWindowGone(box), "question closed by the answer");
}

bool buttonEnabled(HWND dialog) { return IsWindowEnabled(GetDlgItem(dialog, IDC_ABORT)) != FALSE; }

// ---- scenarios

BOOL CALLBACK firstMonitor(HMONITOR, HDC, LPRECT rect, LPARAM first) {
    *reinterpret_cast<RECT*>(first) = *rect;
    return FALSE;
}

void shown(HostSession& session, Checks& checks) {
    HWND dialog = session.dialog;
    checks.expectBytes(windowText(dialog), title, "caption is the window title");
    checks.expectBytes(controlText(dialog, IDC_ABORT), cp932("中止"), "abort button text");
    checks.expectBytes(controlText(dialog, IDC_FILE_LABEL), cp932("data3.arcをインストール中"),
                       "file label set by the run host");
    checks.expect(buttonEnabled(dialog), "abort button enabled");
    checks.expect((GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) == 0, "no system menu");
    RECT window;
    GetWindowRect(dialog, &window);
    RECT monitor{};
    EnumDisplayMonitors(nullptr, nullptr, firstMonitor, reinterpret_cast<LPARAM>(&monitor));
    const LONG x = monitor.left + ((monitor.right - monitor.left) - (window.right - window.left)) / 2;
    const LONG y = monitor.top + ((monitor.bottom - monitor.top) - (window.bottom - window.top)) / 2;
    checks.expect(window.left == x && window.top == y, "centred on the first monitor",
                  std::to_string(window.left) + "," + std::to_string(window.top) + " expected " + std::to_string(x) +
                      "," + std::to_string(y));
}

void abortAnsweredNo(HostSession& session, Checks& checks) {
    postClick(session.dialog, IDC_ABORT);
    if (answerQuestion(session, checks, IDNO) && sync(session, checks, "host pumped after the answer")) {
        checks.expect(buttonEnabled(session.dialog), "abort button still enabled");
    }
}

void abortAnsweredYes(HostSession& session, Checks& checks) {
    postClick(session.dialog, IDC_ABORT);
    if (!answerQuestion(session, checks, IDYES) || !sync(session, checks, "host pumped after the answer")) {
        return;
    }
    checks.expect(!buttonEnabled(session.dialog), "abort button disabled");
    postClick(session.dialog, IDC_ABORT);
    sync(session, checks, "a later click asks nothing");
}

void closedByAnotherProgram(HostSession& session, Checks& checks) {
    PostMessageA(session.dialog, WM_CLOSE, 0, 0);
    sync(session, checks, "host pumped WM_CLOSE");
    checks.expect(waitForWindowGone(session.dialog, 0), "dialog destroyed on receipt");
}

void systemCloseSwallowed(HostSession& session, Checks& checks) {
    PostMessageA(session.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    sync(session, checks, "host pumped SC_CLOSE");
    // Alt+F4 on the focused button: the platform turns it into the system close command.
    PostMessageA(GetDlgItem(session.dialog, IDC_ABORT), WM_SYSKEYDOWN, VK_F4,
                 0x20000001 | (MapVirtualKeyA(VK_F4, 0) << 16));
    sync(session, checks, "host pumped Alt+F4");
    checks.expect(IsWindow(session.dialog) && IsWindowVisible(session.dialog), "dialog still shown");
}

void otherCommandsIgnored(HostSession& session, Checks& checks) {
    // Escape on the focused button, which the platform turns into the command IDCANCEL.
    PostMessageA(GetDlgItem(session.dialog, IDC_ABORT), WM_KEYDOWN, VK_ESCAPE,
                 1 | (MapVirtualKeyA(VK_ESCAPE, 0) << 16));
    PostMessageA(session.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
    PostMessageA(session.dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    PostMessageA(session.dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_DOUBLECLICKED), 0);
    PostMessageA(session.dialog, WM_COMMAND, MAKEWPARAM(IDC_FILE_LABEL, BN_CLICKED), 0);
    sync(session, checks, "host pumped the commands without a question");
    checks.expect(IsWindow(session.dialog) && buttonEnabled(session.dialog), "dialog and button unchanged");
}

void quitMessage(HostSession& session, Checks& checks) {
    checks.expect(PostThreadMessageA(session.process.dwThreadId, WM_QUIT, 0, 0) != 0, "WM_QUIT posted to the host");
    sync(session, checks, "host pumped WM_QUIT");
    checks.expect(IsWindow(session.dialog) != FALSE, "dialog left alone");
}

struct Scenario {
    const char* name;
    void (*act)(HostSession&, Checks&);
    // The host's report at the end.
    const char* cancel;
    const char* abort;
    const char* handle;
    const char* window;
    const char* button;
    const char* stops;
};

const Scenario scenarios[] = {
    {"shown", shown, "0", "0", "dialog", "alive", "enabled", "0"},
    {"abort-no", abortAnsweredNo, "0", "0", "dialog", "alive", "enabled", "0"},
    {"abort-yes", abortAnsweredYes, "0", "1", "dialog", "alive", "disabled", "0"},
    {"close", closedByAnotherProgram, "1", "0", "null", "gone", "absent", "0"},
    {"system-close", systemCloseSwallowed, "0", "0", "dialog", "alive", "enabled", "0"},
    {"other-commands", otherCommandsIgnored, "0", "0", "dialog", "alive", "enabled", "0"},
    {"quit", quitMessage, "0", "0", "dialog", "alive", "enabled", "1"},
};

int run(const Scenario& scenario, const std::string& hostPath) {
    Checks checks;
    HostSession session;
    if (startHost(session, hostPath, checks)) {
        scenario.act(session, checks);
    }
    std::map<std::string, std::string> report = finishHost(session, checks);
    const std::pair<const char*, const char*> expected[] = {
        {"cancel", scenario.cancel}, {"abort", scenario.abort},   {"handle", scenario.handle},
        {"window", scenario.window}, {"button", scenario.button}, {"stops", scenario.stops},
    };
    for (const auto& [key, value] : expected) {
        const auto found = report.find(key);
        const std::string actual = found == report.end() ? "(missing)" : found->second;
        checks.expect(actual == value, std::string("report ") + key + "=" + value,
                      actual == value ? "" : "got " + actual);
    }
    std::printf("%d passed, %d failed\n", checks.passed, checks.failed);
    return checks.failed == 0 && checks.passed > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line is out even if the driver is stopped
    if (argc >= 2 && std::string(argv[1]) == "setup") {
        return runSetupSteps(argc, argv);
    }
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::printf("usage: driver SCENARIO [HOST]\n       driver setup SETUP_EXE INSTALL_FOLDER STEP...\nscenarios:");
        for (const Scenario& scenario : scenarios) {
            std::printf(" %s", scenario.name);
        }
        std::printf("\n");
        return argc == 2 ? 0 : 2;
    }
    for (const Scenario& scenario : scenarios) {
        if (scenario.name == std::string(argv[1])) {
            return run(scenario, argc == 3 ? argv[2] : defaultHostPath());
        }
    }
    std::fprintf(stderr, "driver: unknown scenario %s\n", argv[1]);
    return 2;
}
