#include "shell/progress_dialog.h"

#include "resources/resource_ids.h"
#include "shell/common_controls.h"
#include "shell/window_title.h"

HWND dialogHandle = nullptr;
uint32_t cancelFlag = 0;
uint32_t abortFlag = 0;

namespace {

// "アップデートを中止しますか？" (full-width question mark) and twelve U+3000, 26 characters in code
// page 932.
const char abortQuestion[] =
    "\x83\x41\x83\x62\x83\x76\x83\x66\x81\x5B\x83\x67\x82\xF0\x92\x86\x8E\x7E\x82\xB5\x82\xDC\x82\xB7\x82\xA9"
    "\x81\x48"
    "\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40\x81\x40";
static_assert(sizeof abortQuestion == 52 + 1);

// Asks whether to abort, with "No" as the default answer. On Yes the flag is set before the button is
// disabled, so the run sees the abort even if the button cannot be found.
void askToAbort(HWND window) {
    if (MessageBoxA(window, abortQuestion, windowTitle, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        return;
    }
    abortFlag = 1;
    if (HWND button = GetDlgItem(window, IDC_ABORT)) {
        EnableWindow(button, FALSE);
    }
}

}  // namespace

INT_PTR CALLBACK progressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            // The platform gives the focus to the first tab stop, the abort button.
            return TRUE;
        case WM_CLOSE:
            // Another program (or the platform) closed the dialog: the run stops at its next check.
            cancelFlag = 1;
            DestroyWindow(dialogHandle);
            dialogHandle = nullptr;
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDC_ABORT || HIWORD(wParam) != BN_CLICKED) {
                return FALSE;  // Escape's IDCANCEL and the button's other notifications change nothing
            }
            if (abortFlag == 0) {
                askToAbort(window);
            }
            return TRUE;
        case WM_SYSCOMMAND:
            // Alt+F4 and the system close command never become WM_CLOSE.
            return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;
        default:
            return FALSE;
    }
}

HWND createProgressDialog(HINSTANCE instance) {
    if (!loadCommonControls()) {
        return nullptr;
    }
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, progressDialogProc, 0);
}
