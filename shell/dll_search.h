#pragma once
// The updater runs elevated from a folder anyone may write to (a download folder, say), so a DLL
// planted beside it must never be loaded. Its import table names only libraries the platform always
// takes from the system folder; this covers the ones loaded later, by the program or on its behalf.

// Restricts every later load of a DLL by name to the system folder where the platform can
// (SetDefaultDllDirectories); elsewhere takes at least the current folder out of the search. Called
// first thing, before anything else can load a library.
void restrictDllSearchToSystemFolder();
