// setup.exe's entry point.
#include <windows.h>

#include "shell/dll_search.h"
#include "shell/startup.h"

// The previous-instance handle and the command line are not used: the updater takes no options.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    restrictDllSearchToSystemFolder();
    return runSetup(instance, showCommand);
}
