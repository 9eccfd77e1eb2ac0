#pragma once
// The program's window title: the caption of every message box and the progress dialog's window
// text. Filled once at start, before the first box can appear, and never changed afterwards.

extern char windowTitle[1024];

// Copies the title "「Vennholt」 更新パッチ ver 1.01" (code page 932) into windowTitle.
void fillWindowTitle();
