#pragma once
// Fills the monitor list from the platform and places the progress dialog by it.

#include <windows.h>

// Adds one monitor reported by EnumDisplayMonitors to the list; TRUE to go on with the next one
// (FALSE only when no memory was left).
BOOL CALLBACK monitorEnumCallback(HMONITOR monitor, HDC context, LPRECT rect, LPARAM value);

// Every monitor of the desktop, in the platform's order. The enumeration's result.
BOOL collectMonitors();

// Centres the window on monitor 0 of the list without resizing it; when the list has no monitor 0,
// on the primary monitor's work area. Leaves the window where it is if neither can be read.
void centerDialog(HWND window);
