// patchtool hvl: writes a version list for a set of game files, and shows one.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/check_value.h"
#include "engine/file_handle.h"
#include "engine/little_endian.h"
#include "engine/version_list.h"
#include "formats/version_list_writer.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/json_output.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/progress_line.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/version_list_file.h"

namespace {

constexpr const char* command = "hvl";

const char* versionName(VersionListVersion version) { return version == VersionListVersion::V1 ? "1" : "2"; }

// ---------------------------------------------------------------------------------------------
// make

struct ListedFile {
    std::string path;       // where the file is read, under the root
    std::string givenName;  // FILE as typed, for messages
    std::string name;       // the record's name: code page 932 bytes, "\" between folders
};

// FILE, relative to the root, as a record name and a path to read. Both "/" and "\" separate
// folders; "." parts are dropped; absolute paths and ".." parts are refused, since a record names a
// file inside the install folder.
bool planFile(const std::string& root, const std::string& file, VersionListVersion version, ListedFile& listed,
              std::string& error) {
    listed.givenName = file;
    const bool absolute = !file.empty() && (file[0] == '/' || file[0] == '\\' || (file.size() > 1 && file[1] == ':'));
    if (absolute) {
        error = "'" + file + "' is not relative: give each FILE relative to the root (--root DIR)";
        return false;
    }
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i <= file.size(); ++i) {
        const char c = i < file.size() ? file[i] : '/';  // no byte of a UTF-8 character is a separator
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (part == "..") {
            error = "'" + file + "' climbs out of the root with '..'";
            return false;
        }
        if (!part.empty() && part != ".") parts.push_back(part);
        part.clear();
    }
    if (parts.empty()) {
        error = "'" + file + "' names no file";
        return false;
    }
    std::string name;
    listed.path = root;
    for (const std::string& each : parts) {
        name += (name.empty() ? "" : "\\") + each;
        listed.path += "/" + each;
    }
    const std::optional<std::string> encoded = utf8ToCodePage932(name);
    if (!encoded) {
        error = "name '" + name + "' has characters that code page 932 cannot hold";
        return false;
    }
    listed.name = *encoded;
    const uint32_t longest = maxVersionRecordName(version);
    if (listed.name.size() > longest) {
        error = "name '" + name + "' is " + std::to_string(listed.name.size()) + " bytes in code page 932; a version " +
                versionName(version) + " record holds at most " + std::to_string(longest);
        return false;
    }
    return true;
}

int runMake(const ParsedArguments& arguments) {
    if (arguments.has("json")) return usageError(command, "--json belongs to 'hvl show'");
    if (!arguments.has("out")) return usageError(command, "'hvl make' needs --out FILE");
    const VersionListVersion version = arguments.has("v1") ? VersionListVersion::V1 : VersionListVersion::V2;
    const std::string root = arguments.has("root") ? arguments.value("root") : ".";

    std::string error;
    std::vector<ListedFile> files;
    for (size_t i = 1; i < arguments.operands.size(); ++i) {
        ListedFile listed;
        if (!planFile(root, arguments.operands[i], version, listed, error)) {
            printError(command, error);
            return exitFailed;
        }
        for (const ListedFile& earlier : files) {
            if (foldedName(earlier.name) == foldedName(listed.name)) {
                printError(command, "'" + listed.givenName +
                                        "' is listed twice (names are compared without regard "
                                        "to case, as the updater compares them)");
                return exitFailed;
            }
        }
        files.push_back(listed);
    }

    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    std::vector<VersionRecordSource> records;
    {
        ProgressLine progress(command);
        for (size_t i = 0; i < files.size(); ++i) {
            progress.show(i, files.size(), files[i].givenName);
            CheckValue value;
            if (!checkValueOfFile(files[i].path, value, buffer.get(), error)) {
                progress.clear();
                printError(command, error);
                return exitFailed;
            }
            VersionRecordSource record{files[i].name, {}};
            std::memcpy(record.checkValue.data(), value.bytes(), checkValueSize);
            records.push_back(record);
        }
    }

    const std::optional<std::vector<uint8_t>> list = makeVersionList(records, version);
    if (!list) {
        printError(command, "the version list would be 4 GiB or larger");
        return exitFailed;
    }
    const std::string& out = arguments.value("out");
    PendingFile pending;
    if (!pending.create(out, error) || !pending.write(list->data(), list->size(), error) || !pending.commit(error)) {
        printError(command, error);
        return exitFailed;
    }
    std::printf("%s: version %s, %s, %zu bytes\n", out.c_str(), versionName(version),
                countOf(records.size(), "record", "records").c_str(), list->size());
    return exitOk;
}

// ---------------------------------------------------------------------------------------------
// show

int runShow(const ParsedArguments& arguments) {
    for (const char* option : {"out", "root", "v1"}) {
        if (arguments.has(option)) return usageError(command, std::string("--") + option + " belongs to 'hvl make'");
    }
    if (arguments.operands.size() != 2) return usageError(command, "'hvl show' expects exactly one FILE");
    LoadedVersionList loaded;
    std::string error;
    if (!readVersionListFile(arguments.operands[1], loaded, error)) {
        printError(command, error);
        return exitFailed;
    }
    const VersionList& list = loaded.list;
    if (arguments.has("json")) {
        Json records = Json::array();
        for (uint32_t i = 0; i < list.count; ++i) {
            const VersionRecord& record = list.records[i];
            const size_t length = std::strlen(record.name);
            records.push_back({{"name", codePage932ToUtf8(record.name, length)},
                               {"nameHex", lowerHex(reinterpret_cast<const uint8_t*>(record.name), length)},
                               {"checkValue", lowerHex(record.checkValue, checkValueSize)}});
        }
        printJson({{"version", list.version == VersionListVersion::V1 ? 1 : 2},
                   {"headerWord", loaded.headerWord},
                   {"count", list.count},
                   {"trailingBytes", loaded.trailingBytes},
                   {"records", records}});
        return exitOk;
    }
    std::printf("version:     %s\nheader word: %u (0x%08X)\ncount:       %u\n", versionName(list.version),
                loaded.headerWord, loaded.headerWord, list.count);
    if (loaded.trailingBytes > 0) {
        std::printf("trailing:    %llu bytes after the last record\n",
                    static_cast<unsigned long long>(loaded.trailingBytes));
    }
    if (list.count > 0) std::printf("\n%5s  %-16s  %s\n", "index", "check value", "name");
    for (uint32_t i = 0; i < list.count; ++i) {
        const VersionRecord& record = list.records[i];
        std::printf("%5u  %s  %s\n", i, lowerHex(record.checkValue, checkValueSize).c_str(),
                    codePage932ToUtf8(record.name, std::strlen(record.name)).c_str());
    }
    return exitOk;
}

int run(const ParsedArguments& arguments) {
    if (arguments.operands.empty()) return usageError(command, "expects 'make' or 'show'");
    const std::string& action = arguments.operands[0];
    if (action == "make") return runMake(arguments);
    if (action == "show") return runShow(arguments);
    return usageError(command, "unknown action '" + action + "'; expects 'make' or 'show'");
}

}  // namespace

const Command hvlCommand = {
    "hvl",
    "write a version list (TLX.hvl) for game files, or show one",
    "Usage: patchtool hvl make --out FILE [--v1] [--root DIR] [FILE...]\n"
    "       patchtool hvl show FILE [--json]\n"
    "\n"
    "make writes a version list with one record per FILE, in the order given: the FILE's name\n"
    "relative to the root, with '\\' between folders, and its 8-byte check value. The header's word\n"
    "at offset 8 is 0.\n"
    "\n"
    "  --out FILE   the list to write; written under a temporary name and moved into place only\n"
    "               when complete, so a failed run leaves an existing FILE untouched\n"
    "  --v1         write version 1 (QTS_____, 64-byte records, names of at most 55 bytes) instead\n"
    "               of version 2 (QTS_V2__, 256-byte records, names of at most 247 bytes)\n"
    "  --root DIR   the folder the FILEs are given relative to (default: the current folder)\n"
    "\n"
    "Each FILE is read from DIR/FILE; '/' and '\\' both separate folders, '.' parts are dropped.\n"
    "Absolute paths, '..' parts, names that code page 932 cannot hold, names longer than the record\n"
    "holds and names given twice (ignoring case) are refused.\n"
    "\n"
    "show prints the version, the header's word at offset 8, the record count and, per record, its\n"
    "check value (16 lower-case hex digits) and name, decoded from code page 932 (bytes that are no\n"
    "character show as U+FFFD). A name that fills its field without a NUL is cut at the field's end,\n"
    "as the updater cuts it. A file the updater would not take as a list (short header, unknown\n"
    "magic, fewer record bytes than the count needs) is reported with exit status 1.\n"
    "\n"
    "  --json   print one JSON object instead:\n"
    "           {\"version\": 2 | 1, \"headerWord\": N, \"count\": N, \"trailingBytes\": N,\n"
    "            \"records\": [{\"name\": ..., \"nameHex\": ..., \"checkValue\": hex}]}\n",
    {{"out", true}, {"root", true}, {"v1", false}, {"json", false}},
    run,
};
