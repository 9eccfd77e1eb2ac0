// patchtool check: which files of a player's install match the installed version list, for
// support. Every record's file is found as the updater finds it, "<folder>\<record name>", and
// read whole.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/check_value.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/folder_walk.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/game_folder.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/record_status.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/version_list_file.h"

namespace {

constexpr const char* command = "check";

struct FileCheck {
    RecordStatus status;
    std::string reason;  // why an unreadable file could not be read
    CheckValue actual;
};

// True when nothing stands at the record's name. The install folder is reached as the game reaches
// it, links included; the name below it is followed as the updater follows it.
bool isMissing(const std::string& folder, const char* name) {
    FolderHandle opened;
    return openFolder(opened, folder.c_str()) && namePresence(opened, name) == NamePresence::Missing;
}

FileCheck unreadable(uint32_t code) {
    return {RecordStatus::Unreadable, code != 0 ? describeSystemError(code) : "cannot be read whole", {}};
}

// The record's file, opened through the updater's own file object and read to its end, whatever
// its size (the file object tells sizes in 32 bits; a file of 4 GiB or more is read whole too).
// Missing only when nothing stands at its name; a file that is there but cannot be opened or read
// (another program holds it, no permission, a folder in its place) is unreadable, with the reason.
FileCheck checkFile(const std::string& folder, const VersionRecord& record, uint8_t* buffer) {
    const std::string path = folder + "\\" + record.name;
    FileHandle file;
    clearSystemErrorCode();
    if (!file.openRead(path.c_str())) {
        const uint32_t code = systemErrorCode();
        return isMissing(folder, record.name) ? FileCheck{RecordStatus::Missing, "", {}} : unreadable(code);
    }
    FileCheck check{RecordStatus::Ok, "", {}};
    check.actual.reset();
    for (;;) {
        clearSystemErrorCode();
        const uint32_t moved = file.read(buffer, fileChunkSize);
        if (moved == 0) {
            if (systemErrorCode() != 0) return unreadable(systemErrorCode());
            break;
        }
        check.actual.update(buffer, moved);
    }
    if (std::memcmp(check.actual.bytes(), record.checkValue, checkValueSize) != 0)
        check.status = RecordStatus::Mismatch;
    return check;
}

int run(const ParsedArguments& arguments) {
    if (!arguments.operands.empty()) return usageError(command, "takes no operands; give the folder with --folder");
    if (!arguments.has("folder")) return usageError(command, "--folder GAME is required");
    GameFolder folder;
    std::string error;
    if (!readGameFolder(arguments.value("folder"), folder, error)) {
        printError(command, error);
        return exitFailed;
    }
    const std::string listPath = arguments.has("hvl") ? arguments.value("hvl") : folder.typed + "/" + versionListName;
    LoadedVersionList loaded;
    if (!readVersionListFile(listPath, loaded, error)) {
        printError(command, error);
        return exitFailed;
    }
    const VersionList& list = loaded.list;
    const bool json = arguments.has("json");
    if (!json)
        std::printf("version list: %s, %s, %s\n", listPath.c_str(), versionListLabel(list.version),
                    countOf(list.count, "record", "records").c_str());

    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    RecordStatusCounts counts;
    Json records = Json::array();
    ProgressLine progress(command);
    for (uint32_t i = 0; i < list.count; ++i) {
        const VersionRecord& record = list.records[i];
        const std::string name = codePage932ToUtf8(record.name, std::strlen(record.name));
        progress.show(i, list.count, name);
        const FileCheck check = checkFile(folder.engine, record, buffer.get());
        progress.clear();
        counts.add(check.status);
        const bool read = check.status == RecordStatus::Ok || check.status == RecordStatus::Mismatch;
        if (json) {
            records.push_back({{"name", name},
                               {"status", recordStatusName(check.status)},
                               {"expected", checkValueJson(record.checkValue)},
                               {"actual", checkValueJson(read ? check.actual.bytes() : nullptr)},
                               {"reason", check.reason.empty() ? Json() : Json(check.reason)}});
        } else {
            printRecordStatus(check.status, name, record.checkValue, check.actual, check.reason);
        }
    }
    if (json) {
        Json summary;
        for (const RecordStatus status :
             {RecordStatus::Ok, RecordStatus::Mismatch, RecordStatus::Missing, RecordStatus::Unreadable}) {
            summary[recordStatusName(status)] = counts[status];
        }
        printJson({{"versionList", versionListLabel(list.version)}, {"records", records}, {"summary", summary}});
    } else {
        std::printf("%s: %u ok, %u mismatched, %u missing, %u unreadable\n",
                    countOf(list.count, "record", "records").c_str(), counts[RecordStatus::Ok],
                    counts[RecordStatus::Mismatch], counts[RecordStatus::Missing], counts[RecordStatus::Unreadable]);
    }
    return counts[RecordStatus::Ok] == list.count ? exitOk : exitFailed;
}

}  // namespace

const Command checkCommand = {
    "check",
    "check a player's install against its version list",
    "Usage: patchtool check --folder GAME [--hvl FILE] [--json]\n"
    "\n"
    "Reads the version list GAME/TLX.hvl (or FILE) with the updater's own reader and checks every\n"
    "record's file, found as the updater finds it (GAME\\NAME, folders separated by '\\'), read\n"
    "whole in chunks of 1 MiB, whatever its size. Per record it prints:\n"
    "  ok          the file's check value equals the record's\n"
    "  MISMATCH    it differs (the expected and the actual check value are shown): the file is\n"
    "              damaged or of another release\n"
    "  MISSING     there is no such file\n"
    "  UNREADABLE  it is there but cannot be opened or read whole (another program holds it, no\n"
    "              permission, a folder in its place); the system's reason is shown\n"
    "and a summary line. Names are shown decoded from code page 932. On Windows the files are found\n"
    "through the system's ANSI code page, as the updater finds them on that PC: where that code page\n"
    "is not 932, a name with Japanese characters names another file there, and shows as MISSING.\n"
    "A version list the updater would not read is reported with exit status 1.\n"
    "\n"
    "  --folder GAME   the game's install folder (required)\n"
    "  --hvl FILE      check against FILE instead of GAME/TLX.hvl, e.g. the list of the release the\n"
    "                  player should have\n"
    "  --json          print one JSON object instead:\n"
    "                  {\"versionList\": \"v2\" | \"v1\", \"records\": [{\"name\": ..., \"status\": \"ok\" |\n"
    "                   \"mismatch\" | \"missing\" | \"unreadable\", \"expected\": hex, \"actual\": hex or null,\n"
    "                   \"reason\": the system's reason for an unreadable file, else null}],\n"
    "                   \"summary\": {\"ok\": N, \"mismatch\": N, \"missing\": N, \"unreadable\": N}}\n"
    "\n"
    "A progress line is shown on standard error when it is a terminal.\n"
    "Exit status: 0 when every record is ok, 1 otherwise, 2 when the command line is wrong.\n",
    {{"folder", true}, {"hvl", true}, {"json", false}},
    run,
};
