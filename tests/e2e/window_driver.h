#pragma once
// Driving another program's windows the way a user (or another program) would: find its dialogs and
// message boxes by class and caption, read their texts as the code page 932 bytes the ANSI calls
// give, click buttons by posting WM_COMMAND, and post any other message. Every wait is bounded.

#include <windows.h>

#include <string>

// How long any wait for another program lasts at most.
inline constexpr DWORD driverWaitMs = 10000;

// A top-level dialog-class window ("#32770") with this caption (code page 932 bytes) that has a
// control with this id; null when there is none at the moment. A message box has the control 0xFFFF
// (its text); the progress dialog has its abort button.
HWND findDialogWithControl(const std::string& caption, int controlId);

// The same, waiting until the window exists and is visible or the time is up.
HWND waitForDialogWithControl(const std::string& caption, int controlId, DWORD timeoutMs = driverWaitMs);

// Waits until the window no longer exists; false when it still does when the time is up.
bool waitForWindowGone(HWND window, DWORD timeoutMs = driverWaitMs);

// The message box control that holds the box's text.
inline constexpr int messageBoxTextId = 0xFFFF;

// The window text of a window, or of one control of a dialog, as code page 932 bytes.
std::string windowText(HWND window);
std::string controlText(HWND dialog, int controlId);

// Clicks a dialog's button by posting the click notification the button itself would send; answers a
// message box by posting the command of the chosen button (IDYES, IDNO, IDOK).
bool postClick(HWND dialog, int buttonId);
bool postAnswer(HWND messageBox, int answer);

// Whether a dialog's or message box's button is drawn as the default one (BS_DEFPUSHBUTTON), the one
// that Enter presses.
bool isDefaultButton(HWND dialog, int buttonId);
