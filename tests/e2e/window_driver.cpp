#include "tests/e2e/window_driver.h"

namespace {

constexpr DWORD pollMs = 20;

}  // namespace

HWND findDialogWithControl(const std::string& caption, int controlId) {
    HWND window = nullptr;
    // Several windows can share the caption (the progress dialog and its abort question do).
    while ((window = FindWindowExA(nullptr, window, "#32770", caption.c_str())) != nullptr) {
        if (GetDlgItem(window, controlId) != nullptr) {
            return window;
        }
    }
    return nullptr;
}

HWND waitForDialogWithControl(const std::string& caption, int controlId, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        HWND window = findDialogWithControl(caption, controlId);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(pollMs);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool waitForWindowGone(HWND window, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(pollMs);
    }
    return true;
}

std::string windowText(HWND window) {
    // For a window of another process the platform returns the stored text without asking that
    // process, converted to the caller's ANSI code page.
    char buffer[1024];
    const int length = GetWindowTextA(window, buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string controlText(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    return control == nullptr ? "<no control>" : windowText(control);
}

bool postClick(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != 0;
}

bool postAnswer(HWND messageBox, int answer) { return postClick(messageBox, answer); }

bool isDefaultButton(HWND dialog, int buttonId) {
    HWND button = GetDlgItem(dialog, buttonId);
    return button != nullptr && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}
