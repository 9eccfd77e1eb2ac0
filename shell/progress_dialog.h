#pragma once
// The progress dialog (template IDD_PROGRESS) and the process-wide values it shares with an update
// run: the dialog handle and the two stop flags. The run polls the flags between its steps; the
// dialog procedure sets them while the run pumps messages.

#include <windows.h>

#include <cstdint>

// The progress dialog's window, null while there is none. Stored by whoever creates the dialog;
// cleared by whoever destroys it, the WM_CLOSE handling included.
extern HWND dialogHandle;
// Set to 1 when the dialog gets WM_CLOSE, or by the run when pumping fails. Never cleared.
extern uint32_t cancelFlag;
// Set to 1 when the user confirms the abort question. Never cleared.
extern uint32_t abortFlag;

// The dialog procedure: WM_CLOSE cancels and destroys the dialog, a click on the abort button asks
// the abort question (once it was confirmed, nothing more), the system close command (Alt+F4) is
// swallowed, and everything else is left to the platform.
INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Makes the progress-bar class available and creates the dialog, hidden and without owner, from the
// module's template. Returns null when either fails. Does not store the handle.
HWND createProgressDialog(HINSTANCE instance);
