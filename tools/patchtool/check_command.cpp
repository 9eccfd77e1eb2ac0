// patchtool check: which files of a player's install match the installed version list, for
// support. Every record's file is found as the updater finds it, "<folder>\<record name>", and
// read whole.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/check_value.h"
#include "engine/file_handle.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/json_output.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/version_list_file.h"

namespace {

constexpr const char* command = "check";

enum class FileStatus { Ok, Mismatch, Missing, Unreadable };
const char* const statusNames[] = {"ok", "mismatch", "missing", "unreadable"};
const char* const shownStatusNames[] = {"ok", "MISMATCH", "MISSING", "UNREADABLE"};

// The record's file, read through the updater's own file object.
FileStatus checkFile(const std::string& folder, const VersionRecord& record, uint8_t* buffer, CheckValue& value) {
    const std::string path = folder + "\\" + record.name;
    FileHandle file;
    if (!file.openRead(path.c_str())) return FileStatus::Missing;
    // A file another program holds may open and still not read whole.
    const uint32_t size = file.size();
    if (size == invalidFileSize || !foldFileBytes(file, size, value, buffer)) return FileStatus::Unreadable;
    const bool equal = std::memcmp(value.bytes(), record.checkValue, checkValueSize) == 0;
    return equal ? FileStatus::Ok : FileStatus::Mismatch;
}

int run(const ParsedArguments& arguments) {
    if (!arguments.operands.empty()) return usageError(command, "takes no operands; give the folder with --folder");
    if (!arguments.has("folder")) return usageError(command, "--folder GAME is required");
    std::string folder = arguments.value("folder");
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const std::string listPath = arguments.has("hvl") ? arguments.value("hvl") : folder + "/TLX.hvl";
    LoadedVersionList loaded;
    std::string error;
    if (!readVersionListFile(listPath, loaded, error)) {
        printError(command, error);
        return exitFailed;
    }
    const VersionList& list = loaded.list;
    const bool json = arguments.has("json");
    if (!json)
        std::printf("version list: %s, %s, %u records\n", listPath.c_str(), versionListLabel(list.version), list.count);

    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    uint32_t counts[4] = {};
    Json records = Json::array();
    ProgressLine progress(command);
    for (uint32_t i = 0; i < list.count; ++i) {
        const VersionRecord& record = list.records[i];
        const std::string name = codePage932ToUtf8(record.name, std::strlen(record.name));
        progress.show(i, list.count, name);
        CheckValue actual;
        const FileStatus status = checkFile(folder, record, buffer.get(), actual);
        progress.clear();
        ++counts[static_cast<int>(status)];
        const std::string expected = lowerHex(record.checkValue, checkValueSize);
        const bool read = status == FileStatus::Ok || status == FileStatus::Mismatch;
        if (json) {
            records.push_back({{"name", name},
                               {"status", statusNames[static_cast<int>(status)]},
                               {"expected", expected},
                               {"actual", read ? Json(lowerHex(actual.bytes(), checkValueSize)) : Json()}});
        } else if (status == FileStatus::Mismatch) {
            std::printf("%-10s  %s  (expected %s, actual %s)\n", shownStatusNames[1], name.c_str(), expected.c_str(),
                        lowerHex(actual.bytes(), checkValueSize).c_str());
        } else {
            std::printf("%-10s  %s\n", shownStatusNames[static_cast<int>(status)], name.c_str());
        }
    }
    const uint32_t notOk = list.count - counts[static_cast<int>(FileStatus::Ok)];
    if (json) {
        Json summary;
        for (int status = 0; status < 4; ++status) summary[statusNames[status]] = counts[status];
        printJson({{"versionList", versionListLabel(list.version)}, {"records", records}, {"summary", summary}});
    } else {
        std::printf("%u records: %u ok, %u mismatched, %u missing, %u unreadable\n", list.count, counts[0], counts[1],
                    counts[2], counts[3]);
    }
    return notOk == 0 ? exitOk : exitFailed;
}

}  // namespace

const Command checkCommand = {
    "check",
    "check a player's install against its version list",
    "Usage: patchtool check --folder GAME [--hvl FILE] [--json]\n"
    "\n"
    "Reads the version list GAME/TLX.hvl (or FILE) with the updater's own reader and checks every\n"
    "record's file, found as the updater finds it (GAME\\NAME, folders separated by '\\'), read\n"
    "whole in chunks of 1 MiB. Per record it prints:\n"
    "  ok          the file's check value equals the record's\n"
    "  MISMATCH    it differs (the expected and the actual check value are shown): the file is\n"
    "              damaged or of another release\n"
    "  MISSING     there is no such file\n"
    "  UNREADABLE  it is there but cannot be read whole (another program holds it)\n"
    "and a summary line. A version list the updater would not read is reported with exit status 1.\n"
    "\n"
    "  --folder GAME   the game's install folder (required)\n"
    "  --hvl FILE      check against FILE instead of GAME/TLX.hvl, e.g. the list of the release the\n"
    "                  player should have\n"
    "  --json          print one JSON object instead:\n"
    "                  {\"versionList\": \"v2\" | \"v1\", \"records\": [{\"name\": ..., \"status\": \"ok\" |\n"
    "                   \"mismatch\" | \"missing\" | \"unreadable\", \"expected\": hex, \"actual\": hex or null}],\n"
    "                   \"summary\": {\"ok\": N, \"mismatch\": N, \"missing\": N, \"unreadable\": N}}\n"
    "\n"
    "A progress line is shown on standard error when it is a terminal.\n"
    "Exit status: 0 when every record is ok, 1 otherwise, 2 when the command line is wrong.\n",
    {{"folder", true}, {"hvl", true}, {"json", false}},
    run,
};
