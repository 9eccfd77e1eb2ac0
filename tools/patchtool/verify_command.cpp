// patchtool verify: checks every payload entry of a patch against the patch's own version list,
// reading both with the updater's code, and tells under which name each entry would be installed.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/check_value.h"
#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "engine/version_list.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/json_output.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/patch_archive.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/record_status.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/version_list_file.h"

namespace {

constexpr const char* command = "verify";

struct EntryReport {
    std::string name;    // as stored in the index
    std::string target;  // the name the updater installs it under
    RecordStatus status;
    const uint8_t* expected;  // the record's check value, or null
    CheckValue actual;
};

// Folds the entry's bytes into `value`, chunk by chunk, as the updater copies them. False when the
// entry's bytes cannot all be read: the updater would end with PayloadDamaged.
bool foldEntry(FileHandle& patch, const PayloadArchive& archive, uint32_t i, uint8_t* buffer, CheckValue& value) {
    if (!archive.isEntryReachable(i) || !patch.seek(archive.dataPosition(i))) return false;
    return foldFileBytes(patch, archive.entry(i).size, value, buffer);
}

EntryReport verifyEntry(FileHandle& patch, const PayloadArchive& archive, const VersionList& list, uint32_t i,
                        uint8_t* buffer) {
    const ArchiveEntry entry = archive.entry(i);
    char lowerName[260] = {};
    std::strncpy(lowerName, entry.name, sizeof lowerName - 1);
    codePage932.lowerCaseName(lowerName);
    const VersionRecord* record = list.findRecord(lowerName, codePage932);
    EntryReport report{entry.name,
                       record != nullptr ? record->name : entry.name,
                       RecordStatus::Unverified,
                       record != nullptr ? record->checkValue : nullptr,
                       {}};
    if (!foldEntry(patch, archive, i, buffer, report.actual)) {
        report.status = RecordStatus::Unreadable;
    } else if (record != nullptr) {
        const bool equal = std::memcmp(report.actual.bytes(), record->checkValue, checkValueSize) == 0;
        report.status = equal ? RecordStatus::Ok : RecordStatus::Mismatch;
    }
    return report;
}

std::string shown(const std::string& name) { return codePage932ToUtf8(name.data(), name.size()); }

Json entryJson(const EntryReport& report) {
    return {{"name", shown(report.name)},
            {"target", shown(report.target)},
            {"status", recordStatusName(report.status)},
            {"expected", checkValueJson(report.expected)},
            {"actual", checkValueJson(report.status != RecordStatus::Unreadable ? report.actual.bytes() : nullptr)}};
}

void printTextEntry(const EntryReport& report) {
    const std::string name = shown(report.name) + (report.target != report.name ? " -> " + shown(report.target) : "");
    printRecordStatus(report.status, name, report.expected, report.actual,
                      report.status == RecordStatus::Unreadable ? "its bytes cannot be read whole from the patch" : "");
}

int run(const ParsedArguments& arguments) {
    if (arguments.operands.size() != 1) return usageError(command, "expects exactly one PATCH");
    const std::string& path = arguments.operands[0];
    FileHandle patch;
    PayloadArchive archive;
    if (!openPatchArchive(command, path, patch, archive)) return exitFailed;
    VersionList list;
    const std::optional<uint32_t> listEntry = findVersionListEntry(archive, codePage932);
    if (listEntry) list.loadFromArchive(patch, archive, *listEntry);

    const bool json = arguments.has("json");
    if (!json) {
        std::printf("version list: %s", versionListLabel(list.version));
        if (list.version != VersionListVersion::None) {
            std::printf(", %s", countOf(list.count, "record", "records").c_str());
        } else if (listEntry) {
            std::printf(" (the entry %s is no readable version list)", shown(archive.entry(*listEntry).name).c_str());
        } else {
            std::printf(" (no entry named %s)", versionListName);
        }
        std::printf("\n");
    }
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    RecordStatusCounts counts;
    Json entries = Json::array();
    ProgressLine progress(command);
    for (uint32_t i = 0; i < archive.entryCount(); ++i) {
        progress.show(i, archive.entryCount(), shown(archive.entry(i).name));
        const EntryReport report = verifyEntry(patch, archive, list, i, buffer.get());
        progress.clear();
        counts.add(report.status);
        if (json) {
            entries.push_back(entryJson(report));
        } else {
            printTextEntry(report);
        }
    }
    if (json) {
        printJson({{"versionList", versionListLabel(list.version)}, {"entries", entries}});
    } else {
        std::printf("%s: %u ok, %u mismatched, %u unverified, %u unreadable\n",
                    countOf(archive.entryCount(), "entry", "entries").c_str(), counts[RecordStatus::Ok],
                    counts[RecordStatus::Mismatch], counts[RecordStatus::Unverified], counts[RecordStatus::Unreadable]);
    }
    const bool failed = counts[RecordStatus::Mismatch] + counts[RecordStatus::Unreadable] > 0;
    return failed ? exitFailed : exitOk;
}

}  // namespace

const Command verifyCommand = {
    "verify",
    "check a patch's entries against its own version list",
    "Usage: patchtool verify PATCH [--json]\n"
    "\n"
    "Reads the payload archive of PATCH and its version list (the entry named tlx.hvl in any case)\n"
    "with the updater's own code, then reads every entry once, in chunks of 1 MiB, in index order,\n"
    "and prints per entry:\n"
    "  ok          its check value equals its version record's\n"
    "  MISMATCH    it differs (the expected and the actual check value are shown); the updater\n"
    "              would stop without replacing any file\n"
    "  unverified  no record matches it; the updater installs it unchecked\n"
    "  UNREADABLE  its bytes lie outside the patch; the updater would report a damaged patch\n"
    "An entry is shown as 'NAME -> TARGET' when the updater installs it under its record's name.\n"
    "The first line names the version list as the updater loaded it: v2, v1, or none when the patch\n"
    "has no usable one (then every entry is unverified).\n"
    "\n"
    "  --json   print one JSON object instead:\n"
    "           {\"versionList\": \"v2\" | \"v1\" | \"none\", \"entries\": [{\"name\": ..., \"target\": ...,\n"
    "            \"status\": \"ok\" | \"mismatch\" | \"unverified\" | \"unreadable\",\n"
    "            \"expected\": hex or null, \"actual\": hex (null when unreadable)}]}\n"
    "\n"
    "Exit status: 0 when no entry mismatches or is unreadable, 1 otherwise, and 1 for a patch the\n"
    "updater would refuse outright (reported with the updater's result, as 'patchtool list' does).\n",
    {{"json", false}},
    run,
};
