#include "shell/dialog_run_host.h"

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "resources/resource_ids.h"
#include "shell/message_pump.h"
#include "shell/progress_dialog.h"

namespace {

HWND control(void* handle) { return static_cast<HWND>(handle); }

// The three controls of the dialog as it is now; all null without a dialog. After the dialog has been
// destroyed the handles name no window, and the calls below then have no effect.
RunControls takeControls(void*) {
    if (dialogHandle == nullptr) {
        return RunControls{nullptr, nullptr, nullptr};
    }
    return RunControls{GetDlgItem(dialogHandle, IDC_FILE_LABEL), GetDlgItem(dialogHandle, IDC_FILE_BAR),
                       GetDlgItem(dialogHandle, IDC_OVERALL_BAR)};
}

void setText(void*, void* label, const char* text) {
    if (label != nullptr) {
        SetWindowTextA(control(label), text);
    }
}

void setRange(void*, void* bar, uint32_t low, uint32_t high) {
    if (bar != nullptr) {
        SendMessageA(control(bar), PBM_SETRANGE32, low, high);
    }
}

void setPosition(void*, void* bar, uint32_t position) {
    if (bar != nullptr) {
        SendMessageA(control(bar), PBM_SETPOS, position, 0);
    }
}

uint32_t pump(void*) { return pumpMessages(); }
bool cancelled(void*) { return cancelFlag != 0; }
bool aborted(void*) { return abortFlag != 0; }
void cancel(void*) { cancelFlag = 1; }

}  // namespace

RunHost dialogRunHost() {
    return RunHost{nullptr, takeControls, setText, setRange, setPosition, pump, cancelled, aborted, cancel};
}
