#pragma once
// The common-controls library, which registers the progress-bar class "msctls_progress32" when it
// is loaded.

// Loads comctl32.dll from the system folder, never from anywhere else: the updater runs elevated
// from a folder anyone may write to, and the library is not one of those the platform always takes
// from the system folder, so it is loaded by its full path instead of being imported. The library
// stays loaded for the rest of the process. False when it could not be loaded.
bool loadCommonControls();
