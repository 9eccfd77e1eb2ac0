#pragma once
// Why build refuses to write a patch, each reason worded once. A refusal is one line on standard
// error: the file, folder or entry it concerns, one of these reasons, and where they help, figures
// or what to do in parentheses. The manual page lists every reason under REFUSALS, with what it
// protects and what to do; a test holds the two together.

#include <string>

namespace refusal {

// The files and folders given
inline constexpr char stubTooLarge[] = "a stub longer than 393216 bytes (0x60000), where the payload begins";
inline constexpr char notAFolder[] = "not a folder";
inline constexpr char newAsBase[] = "the new release given as a base";
inline constexpr char baseTwice[] = "a base given twice";
inline constexpr char listTwice[] = "a version list given twice";

// What a release holds
inline constexpr char nothingToCarry[] = "no file but TLX.hvl and uninst.lst";
inline constexpr char noPatchNeeded[] = "no patch is needed";
inline constexpr char danglingLink[] = "a link that leads nowhere";
inline constexpr char linkLoop[] = "a link in a loop of links";
inline constexpr char linkOutside[] = "a link that leads outside its release folder";
inline constexpr char linkBack[] = "a link back to a folder that holds it";
inline constexpr char notFileOrFolder[] = "neither a file nor a folder";
inline constexpr char notUtf8[] = "a name that is not UTF-8";
inline constexpr char oneFileTwice[] = "two files Windows takes for one";
inline constexpr char atRunName[] = "a name the updater writes for itself";
inline constexpr char folderMissing[] = "a folder a base lacks";

// Names of entries and records
inline constexpr char noFile[] = "an entry that names no file";
inline constexpr char emptyName[] = "an empty name";
inline constexpr char notCodePage932[] = "characters that code page 932 cannot hold";
inline constexpr char refusedName[] = "a name the updater refuses";
inline constexpr char tooLongForIndex[] = "a name longer than the patch's index holds";
inline constexpr char tooLongForRecord[] = "a name longer than a version list record holds";
inline constexpr char givenTwice[] = "an entry given twice";
inline constexpr char oneName[] = "two files carried under one name";
inline constexpr char versionListEntry[] = "a file carried under the version list's name";

// Sizes
inline constexpr char tooManyEntries[] = "more entries than a patch holds (32)";
inline constexpr char fileTooLarge[] = "a file of 4 GiB or more";
inline constexpr char startsTooLate[] = "an entry that would start beyond 2 GiB";
inline constexpr char patchTooLarge[] = "a patch of 4 GiB or more";

// The bytes packed and their records
inline constexpr char changedWhileBuilding[] = "changed while the patch was being built";
inline constexpr char recordDiffers[] = "other bytes than its record in --hvl-from DIR";
inline constexpr char noRecord[] = "no record in --hvl-from DIR";

}  // namespace refusal

// "SUBJECT: REASON (DETAIL)", the line of a refusal; without a subject or a detail, without them.
inline std::string refused(const std::string& subject, const char* reason, const std::string& detail = "") {
    return (subject.empty() ? "" : subject + ": ") + reason + (detail.empty() ? "" : " (" + detail + ")");
}
