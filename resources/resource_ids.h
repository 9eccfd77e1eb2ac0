/* Identifiers shared by the resource script and the program (plain defines, so that windres reads
   them too). */
#pragma once

/* The progress dialog and its controls. */
#define IDD_PROGRESS 102
#define IDC_ABORT 1000
#define IDC_FILE_LABEL 1001
#define IDC_FILE_BAR 1002
#define IDC_OVERALL_BAR 1003

/* setup.exe's icon group. */
#define IDI_SETUP 101
