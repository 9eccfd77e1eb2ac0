#include "shell/startup.h"

#include "engine/update_run.h"
#include "shell/dialog_run_host.h"
#include "shell/display_monitors.h"
#include "shell/install_folder.h"
#include "shell/messages.h"
#include "shell/monitor_list.h"
#include "shell/outcome.h"
#include "shell/progress_dialog.h"
#include "shell/window_title.h"

namespace {

// Held for the whole life of the process: another copy of the updater finds the first name taken;
// the game, its launcher and its uninstaller create the second and cannot run beside the update.
constexpr char ownInstanceMutexName[] = "Updater for Vennholt is executing.";
constexpr char engineMutexName[] = "Pelmar General Interpreter for Vennholt is executing.";

char installFolder[installFolderSize];

// Creates (or opens) a named mutex with initial ownership. *error is the error code read right after
// the call: zero only when a new mutex was created.
HANDLE createNamedMutex(const char* name, DWORD* error) {
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    *error = GetLastError();
    return mutex;
}

// Everything between the guards and the release of the mutexes.
int32_t installWithConsent(HINSTANCE instance, int showCommand) {
    if (!findInstallFolder(installFolder, "Halvorn", "Vennholt")) {
        showWarning(notInstalledText);
        return exitNotInstalled;
    }
    if (!askConsent()) {
        return exitNoConsent;
    }
    dialogHandle = createProgressDialog(instance);
    if (dialogHandle == nullptr) {
        showWarning(dialogFailedText);
        return exitDialogFailed;
    }
    collectMonitors();
    SetWindowTextA(dialogHandle, windowTitle);
    centerDialog(dialogHandle);
    ShowWindow(dialogHandle, showCommand);

    const uint32_t result = runUpdate(installFolder, dialogRunHost());

    // Closing the dialog during the run has destroyed it already and cleared the handle.
    if (dialogHandle != nullptr) {
        DestroyWindow(dialogHandle);
        dialogHandle = nullptr;
    }
    showOutcome(result);
    freeMonitors();
    return static_cast<int32_t>(result);
}

}  // namespace

int32_t runSetup(HINSTANCE instance, int showCommand) {
    DWORD error;
    HANDLE ownInstance = createNamedMutex(ownInstanceMutexName, &error);
    if (error != ERROR_SUCCESS) {
        if (ownInstance != nullptr) {
            CloseHandle(ownInstance);
        }
        return exitAnotherCopyRunning;
    }
    fillWindowTitle();

    HANDLE engine = createNamedMutex(engineMutexName, &error);
    int32_t status;
    if (error != ERROR_SUCCESS) {
        showWarning(engineRunningText);
        status = exitEngineRunning;
    } else {
        status = installWithConsent(instance, showCommand);
    }

    // The mutexes are never released, only their handles closed, the game's one first.
    if (engine != nullptr) {
        CloseHandle(engine);
    }
    if (ownInstance != nullptr) {
        CloseHandle(ownInstance);
    }
    return status;
}
