#pragma once
// The game's uninstall list, uninst.lst in the install folder: a plain-text list of what its
// uninstaller removes. After an update has put its files in place, mergeUninstallList adds the
// installed names to the list and writes it back normalised: lower-cased, without leading blanks,
// duplicates or empty lines, LF line ends, the lines that begin with "$" behind all others, and
// one NUL byte at the end.
//
// Each list keeps its lines in order of first appearance. Beside the order it keeps a hash index
// of its texts, so that finding a duplicate costs the same on a list of a hundred thousand lines
// as on one of ten. Nothing here raises an exception: every allocation is checked, and a failed
// one is reported as false.

#include <cstdint>

class FolderHandle;
struct RewriteFailure;

// One line of a list: its text after lower-casing, owned and NUL-terminated.
struct UninstallEntry {
    char* text;
    uint32_t length;  // bytes of text before its NUL
    uint32_t hash;
    UninstallEntry* next;  // the following line of the same list, or nullptr
};

// The lines of one list in order of first appearance, no two with the same text. Start from a
// value-initialised UninstallList{} and hand it to releaseUninstallList when done.
struct UninstallList {
    UninstallEntry* head;
    UninstallEntry* tail;
    uint32_t count;
    UninstallEntry** index;  // open-addressing table of indexCapacity slots (a power of two)
    uint32_t indexCapacity;
};

// Lines and names are worked on in a buffer of this size, so that one of up to 779 bytes needs no
// allocation. Longer ones are kept whole in a buffer of their own size, never cut.
inline constexpr uint32_t uninstallLineBufferSize = 780;
// The list's path, "<folder>\uninst.lst", and that of the temporary file the rewrite goes through,
// "<folder>\uninst.lst.new", must fit a buffer of this size. A folder too long for them makes the
// merge fail without touching anything.
inline constexpr uint32_t uninstallPathBufferSize = 780;
// The list in the install folder, and the temporary file next to it through which the merge
// rewrites it.
inline constexpr char uninstallListName[] = "uninst.lst";
inline constexpr char uninstallListTemporaryName[] = "uninst.lst.new";
// The first capacity of the buffer in which the rewritten text is assembled; it doubles as needed.
inline constexpr uint32_t uninstallOutputInitialCapacity = 0x10000;

// Reads uninst.lst in the install folder `folder`, adds every name of `names` (an array of
// NUL-terminated names ended by a null pointer; it may hold only the null pointer) that the list
// does not hold yet, and writes the list back through "uninst.lst.new", a new file of the run's own.
// True when the list was read, merged and completely written.
//
// False, with the list left byte for byte as it was and no temporary file of the merge left
// behind, when the list is missing, a link, a file other names share or read-only (it is not read
// then), or empty, its size cannot be determined, a read brings fewer bytes than its size, memory
// runs out, the temporary file cannot be made a file of the run's own, or the list cannot be
// replaced (another program holds it open). The list is never created. When `failure` is given it
// receives the system's code of the call that failed (a read-only list counts as access denied, a
// link as a refusal), or 0 when no call failed, and where making the temporary file failed.
bool mergeUninstallList(const FolderHandle& folder, const char* const* names, RewriteFailure* failure = nullptr);
// The same on the folder at `folder`, opened for this call; false, touching nothing, when the list's
// paths would not fit their buffer.
bool mergeUninstallList(const char* folder, const char* const* names);

// Splits a NUL-terminated text into lines and appends each line that is new to its list: lines
// whose first byte after the leading blanks is "$" to `dollar`, all others to `plain`. A line
// ends at the first CR or LF (a byte after a lead byte is never one), and the whole run of CR
// and LF bytes after it is skipped; leading spaces and tabs are dropped, trailing ones kept;
// blank lines carry nothing. A lead byte at the very end of the text, half a double-byte
// character, is dropped. False when memory runs out (the lists then hold what was added).
bool parseUninstallText(const char* text, UninstallList& plain, UninstallList& dollar);

// Appends each name of the null-ended array `names`, lower-cased, to `plain` unless `plain`
// already holds it. Names go to the plain list whatever their first byte; an empty name is added
// like any other. A lead byte that ends a name is dropped, as at the end of the text, so that every
// line written reads back as written. False when memory runs out.
bool addUninstallNames(const char* const* names, UninstallList& plain);

// Replaces uninst.lst in `folder` with every line of `plain`, then every line of `dollar`, each
// followed by LF, and one NUL at the end, through its temporary file (replaceInstalledList); on any
// failure the list is unchanged, and `failure`, when given, tells why.
bool writeUninstallList(const FolderHandle& folder, const UninstallList& plain, const UninstallList& dollar,
                        RewriteFailure* failure = nullptr);

// Releases every line and the index; the list is then empty and can be used again.
void releaseUninstallList(UninstallList& list);
