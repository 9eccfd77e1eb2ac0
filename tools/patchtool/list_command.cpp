// patchtool list: the payload archive of a patch, read by the same code the updater runs.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/json_output.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/patch_archive.h"
#include "tools/patchtool/report.h"

namespace {

constexpr const char* command = "list";

const char* layoutName(ArchiveLayout layout) { return layout == ArchiveLayout::Current ? "current" : "legacy"; }

void printArchiveJson(const PayloadArchive& archive) {
    Json entries = Json::array();
    for (uint32_t i = 0; i < archive.entryCount(); ++i) {
        const ArchiveEntry entry = archive.entry(i);
        const size_t nameLength = std::strlen(entry.name);
        entries.push_back({{"name", codePage932ToUtf8(entry.name, nameLength)},
                           {"nameHex", lowerHex(reinterpret_cast<const uint8_t*>(entry.name), nameLength)},
                           {"offset", entry.offset},
                           {"size", entry.size},
                           {"position", archive.dataPosition(i)}});
    }
    printJson({{"layout", layoutName(archive.layout)},
               {"count", archive.entryCount()},
               {"dataBase", archive.dataBase()},
               {"entries", entries}});
}

// The table, with a note on entries the updater could not install as they stand.
void printText(const PayloadArchive& archive, uint32_t fileSize) {
    std::printf("layout:    %s\ncount:     %u\ndata base: %u (0x%X)\n", layoutName(archive.layout),
                archive.entryCount(), archive.dataBase(), archive.dataBase());
    if (archive.entryCount() == 0) return;
    std::printf("\n%5s %10s %10s %10s  %s\n", "index", "offset", "size", "position", "name");
    for (uint32_t i = 0; i < archive.entryCount(); ++i) {
        const ArchiveEntry entry = archive.entry(i);
        const char* note = "";
        if (!archive.isEntryReachable(i)) {
            note = "  (damaged: its position wraps past 4 GiB)";
        } else if (static_cast<uint64_t>(archive.dataPosition(i)) + entry.size > fileSize) {
            note = "  (damaged: it ends past the end of the file)";
        }
        std::printf("%5u %10u %10u %10u  %s%s\n", i, entry.offset, entry.size, archive.dataPosition(i),
                    codePage932ToUtf8(entry.name, std::strlen(entry.name)).c_str(), note);
    }
}

int run(const ParsedArguments& arguments) {
    if (arguments.operands.size() != 1) return usageError(command, "expects exactly one PATCH");
    const std::string& path = arguments.operands[0];
    FileHandle patch;
    PayloadArchive archive;
    if (!openPatchArchive(command, path, patch, archive)) return exitFailed;
    if (arguments.has("json")) {
        printArchiveJson(archive);
    } else {
        printText(archive, patch.size());
    }
    return exitOk;
}

}  // namespace

const Command listCommand = {
    "list",
    "list the payload archive of a patch",
    "Usage: patchtool list PATCH [--json]\n"
    "\n"
    "Reads the payload archive at file offset 0x60000 of PATCH with the updater's own reader and\n"
    "prints its layout, entry count and data base, and per entry its name, offset (relative to the\n"
    "data base), size and absolute position in the file. Names are shown decoded from code page\n"
    "932; bytes that are no character show as U+FFFD.\n"
    "\n"
    "  --json   print one JSON object instead:\n"
    "           {\"layout\": \"current\" | \"legacy\", \"count\": N, \"dataBase\": N, \"entries\":\n"
    "            [{\"name\": ..., \"nameHex\": ..., \"offset\": N, \"size\": N, \"position\": N}]}\n"
    "           where nameHex holds the stored name bytes in lower-case hex.\n"
    "\n"
    "A patch the updater would refuse is reported with the updater's result, for example\n"
    "'TooManyEntries (0x80000002)', and exit status 1.\n",
    {{"json", false}},
    run,
};
