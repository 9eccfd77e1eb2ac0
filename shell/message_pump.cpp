#include "shell/message_pump.h"

#include <windows.h>

#include "shell/progress_dialog.h"

bool pumpOneMessage() {
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (message.message == WM_QUIT) {
        throw 0;
    }
    if (dialogHandle != nullptr && IsDialogMessageA(dialogHandle, &message)) {
        return true;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
    return true;
}

uint32_t pumpMessages() {
    try {
        while (pumpOneMessage()) {
        }
    } catch (int) {
        return 1;
    } catch (...) {
        return 1;
    }
    return 0;
}
