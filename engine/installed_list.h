#pragma once
// Reading the two lists the game keeps in its install folder, TLX.hvl and uninst.lst. They are read
// only when they are files of their own that the run may replace: reading through a link would copy
// another file's lines into a list that every user can read, and a list other names share, or one
// that is read-only, is not the run's to replace.

class FileHandle;
class FolderHandle;

// Opens the list `name` in `folder` for reading, relative to the folder's handle and without
// following a link, and checks what it opened on that same handle: a plain file (no link, no
// file other names share) that is not read-only. False, with the system's code (a refusal's for a
// link, a shared or a read-only file), when it cannot be opened or is not such a file; nothing of
// it has been read then and `file` is closed.
bool openInstalledList(FileHandle& file, const FolderHandle& folder, const char* name);
