#pragma once
// The program's window title: the caption of every message box and the progress dialog's window
// text. Filled once at start, before the first box can appear, and never changed afterwards.

extern char windowTitle[1024];
