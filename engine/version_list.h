#pragma once
// The version list TLX.hvl: the game's files with a check value for each. A 16-byte header (8-byte
// magic, a u32 nobody here interprets, u32 record count) is followed directly by the records.
// Version 2 ("QTS_V2__") has 256-byte records: a 248-byte name field and the 8-byte check value.
// Version 1 ("QTS_____") has 64-byte records: a 56-byte name field and the check value.
//
// The updater reads the list carried in its payload to verify what it installs and to learn the
// name each entry is installed under, and after a complete commit it prunes the installed list to
// the records whose files exist.

#include <cstdint>
#include <memory>
#include <optional>

#include "engine/check_value.h"
#include "engine/code_page.h"

class FileHandle;
class FolderHandle;
struct RewriteFailure;
struct PayloadArchive;

inline constexpr uint32_t versionListHeaderSize = 16;
inline constexpr char versionListMagicV2[8] = {'Q', 'T', 'S', '_', 'V', '2', '_', '_'};
inline constexpr char versionListMagicV1[8] = {'Q', 'T', 'S', '_', '_', '_', '_', '_'};

enum class VersionListVersion : uint8_t { None, V1, V2 };

struct VersionRecordLayout {
    uint32_t recordSize;  // bytes per record in the file
    uint32_t nameField;   // bytes of the name field; the check value follows it
};
inline constexpr VersionRecordLayout versionRecordLayoutV2{256, 248};
inline constexpr VersionRecordLayout versionRecordLayoutV1{64, 56};
inline constexpr VersionRecordLayout versionRecordLayout(VersionListVersion version) {
    return version == VersionListVersion::V1 ? versionRecordLayoutV1 : versionRecordLayoutV2;
}

// The version the 8 magic bytes select, version 2 tested first; None for any other bytes.
VersionListVersion versionListVersionOf(const uint8_t* magic);

// One record in the widened version 2 form, whatever version the list had. The name field is
// followed by one more byte that is always NUL, so a name that fills its whole field is cut at the
// field's end; the bytes after the name's NUL are zero.
struct VersionRecord {
    char name[versionRecordLayoutV2.nameField + 1];
    uint8_t checkValue[checkValueSize];
};

// The last component of a record name: a leading drive ("D:") and everything up to and including
// the last "\" or "/" are dropped. Double-byte characters of `codePage` are stepped over as units,
// so a trail byte 0x5C is not a separator. Points into `name`.
const char* lastNameComponent(const char* name, const CodePage& codePage = systemCodePage);

struct VersionList {
    // Fills the list from the payload entry at `entryIndex`, replacing what it held. Every problem
    // (unreachable entry, short header, unknown magic, a record block that is short, cannot be
    // sized in 32 bits or cannot be allocated) leaves the list empty. The record count alone decides
    // how much is read; the entry's own size is not consulted.
    void loadFromArchive(FileHandle& executable, const PayloadArchive& archive, uint32_t entryIndex);
    // The same for a list that starts at `position` of `file`: a list file on its own at 0.
    void loadAt(FileHandle& file, uint32_t position);

    // The first record, in list order, whose name reduced to its last component and lower-cased
    // equals `lowerEntryName` byte for byte; nullptr when there is none. Names are read, reduced and
    // lower-cased by the rules of `codePage`.
    const VersionRecord* findRecord(const char* lowerEntryName, const CodePage& codePage = systemCodePage) const;

    // Rewrites "<installFolder>\TLX.hvl" with only the records whose name stands for something in
    // the install folder (a file, a folder, a link), in file order and with their bytes as read; the
    // header is kept but for the record count, and the version is kept. Names are looked at relative
    // to the folder's handle, one subfolder at a time and never through a link: a record whose name
    // cannot be followed so (a link on its way, a name the updater would not install under) is kept,
    // as a record whose file exists must never be dropped because it could not be looked at. The new
    // list is written to "TLX.hvl.prune~", a new file of the run's own, and moved over the old one in
    // one step, so the installed list is either the old one or the complete new one. Nothing changes
    // when the list is missing or no version list, or when it is a link, a file other names share,
    // or read-only, or reading, writing or moving fails; the temporary file is removed then. False
    // for those last failures, which leave an existing list unpruned; `failure`, when given, then
    // receives the system's code of the call that failed (access denied for a read-only list, a
    // refusal's code for a link), or 0 when none did (memory ran out, or a write came back short),
    // and where making the temporary file failed, when it did.
    static bool pruneInstalled(const FolderHandle& installFolder, RewriteFailure* failure = nullptr);
    // The same on the folder at `installFolder`, opened for this call.
    static bool pruneInstalled(const char* installFolder);

    void clear();

    VersionListVersion version = VersionListVersion::None;  // None while the list is empty for want of one
    uint32_t count = 0;
    std::unique_ptr<VersionRecord[]> records;
};

// The version list: the payload entry the run reads its records from, and the installed list.
inline constexpr char versionListName[] = "TLX.hvl";
// The index position of the payload's version list: the first entry named versionListName in any
// case, by the rules of `codePage`; none when the payload has no such entry.
std::optional<uint32_t> findVersionListEntry(const PayloadArchive& archive, const CodePage& codePage = systemCodePage);
// Name of the temporary file that pruning writes next to TLX.hvl. It differs from every staging
// name the run uses ("<target>.tmp"), so pruning never touches a file of the run.
inline constexpr char versionListPruneName[] = "TLX.hvl.prune~";
