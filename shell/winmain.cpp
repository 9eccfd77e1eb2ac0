// setup.exe's entry point.
#include <windows.h>

#include <cstdlib>

#include "shell/dll_search.h"
#include "shell/startup.h"

// The previous-instance handle and the command line are not used: the updater takes no options.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    restrictDllSearchToSystemFolder();
    return runSetup(instance, showCommand);
}

// The runtime's default handler for an exception nobody catches prints the exception's demangled
// type, which links the whole C++ demangler into the updater. It cannot happen here (the pump's
// quit exception is always caught), so the handler just ends the process.
namespace __gnu_cxx {
void __verbose_terminate_handler() { abort(); }
}  // namespace __gnu_cxx
