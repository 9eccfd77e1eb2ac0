#pragma once
// Acting on a name relative to an open folder, through the system's native interface (ntdll):
// opening a name inside a folder by the folder's handle (OBJECT_ATTRIBUTES.RootDirectory), and
// renaming an open file to a name inside a folder. Win32 offers neither: CreateFileA and MoveFileExA
// take paths, which someone may redirect between two calls, and SetFileInformationByHandle's rename
// rejects a name relative to a folder handle under Wine. A failure sets the system's code as the
// last error, as a Win32 call does.
#include <windows.h>

// Opens `name` (one component, in the process's ANSI code page) inside `folder`, letter case aside;
// INVALID_HANDLE_VALUE on failure. I/O through the handle is synchronous.
HANDLE openRelative(HANDLE folder, const char* name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                    ULONG attributes = 0);

// Renames the open `file` (opened with DELETE access) to `name` inside `folder` in one step,
// replacing what stands there as a name.
bool renameRelative(HANDLE file, HANDLE folder, const char* name);
