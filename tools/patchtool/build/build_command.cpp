// patchtool build: a patch from a setup.exe stub and the files it is to install. This file holds
// the command's options and help, the checks made before anything is read, and the run of its
// steps: choosing the entries, planning the archive and writing the patch.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/payload_archive.h"
#include "tools/patchtool/build/archive_plan.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/build/patch_writer.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/build/release_lists.h"
#include "tools/patchtool/build/stub_location.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"

namespace {

constexpr const char* command = buildCommandName;

bool checkStub(const std::string& path, uint64_t& size, std::string& error) {
    if (!openInputFile(path, size, error)) {
        error = "stub " + error;
        return false;
    }
    if (size <= payloadOffset) return true;
    error = refused("stub " + path, refusal::stubTooLarge, std::to_string(size) + " bytes");
    return false;
}

bool isFolder(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(fileSystemPath(path), ignored);
}

// Whatever the spelling and the links on the way: where both lead is compared.
bool isSameFolder(const std::string& one, const std::string& other) {
    std::error_code failure, otherFailure;
    const std::filesystem::path resolved = finalPath(fileSystemPath(one), failure);
    return !failure && resolved == finalPath(fileSystemPath(other), otherFailure) && !otherFailure;
}

// The release folders are folders, and each is given once: a base that is NEW itself, or another
// base again under another spelling, is refused, whatever the paths' spelling.
bool checkReleaseFolders(const ParsedArguments& arguments, std::string& error) {
    const std::string& newFolder = arguments.value("from");
    if (!isFolder(newFolder)) {
        error = refused("--from " + newFolder, refusal::notAFolder);
        return false;
    }
    if (!arguments.has("base")) return true;
    const std::vector<std::string>& bases = arguments.values("base");
    for (size_t i = 0; i < bases.size(); ++i) {
        if (!isFolder(bases[i])) {
            error = refused("--base " + bases[i], refusal::notAFolder);
            return false;
        }
        if (isSameFolder(bases[i], newFolder)) {
            error = refused("--base " + bases[i], refusal::newAsBase, "the folder of --from " + newFolder);
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (isSameFolder(bases[j], bases[i])) {
                error = refused("--base " + bases[i], refusal::baseTwice, "the folder of --base " + bases[j]);
                return false;
            }
        }
    }
    return true;
}

// What the build needs that takes no reading of the releases: the stub, the release folders and a
// place for the patch, which is created here (under a temporary name) so that a folder that is
// missing or cannot be written stops the build before the long work begins.
bool checkArguments(const ParsedArguments& arguments, const std::string& stubPath, uint64_t& stubSize,
                    const std::string& patchPath, bool dryRun, PendingFile& patch, std::string& error) {
    if (!checkStub(stubPath, stubSize, error)) return false;
    if (arguments.has("from") && !checkReleaseFolders(arguments, error)) return false;
    if (!dryRun) return patch.create(patchPath, error);
    const std::filesystem::path folder = fileSystemPath(patchPath).parent_path();
    std::error_code ignored;
    if (patchPath.empty() || folder.empty() || std::filesystem::is_directory(folder, ignored)) return true;
    error = patchPath + ": the folder it goes into does not exist";
    return false;
}

int run(const ParsedArguments& arguments) {
    std::string stubPath;
    std::string stubError;
    if (arguments.has("stub")) {
        stubPath = arguments.value("stub");
    } else if (!findStub(stubPath, stubError)) {
        return usageError(command, stubError);
    }
    const bool dryRun = arguments.has("dry-run");
    if (!arguments.has("out") && !dryRun) return usageError(command, "--out PATCH is required");
    if (arguments.has("hvl") && arguments.has("hvl-from"))
        return usageError(command, "give --hvl or --hvl-from, not both");
    if (!arguments.has("from") && (arguments.has("hvl-from") || arguments.has("order") || arguments.has("base") ||
                                   arguments.has(followLinksOutsideOption))) {
        return usageError(command, "--base, --hvl-from, --order and --follow-links-outside go with --from DIR");
    }
    if (arguments.has("base") &&
        (arguments.has("hvl") || arguments.has("hvl-from") || arguments.has("order") || !arguments.operands.empty())) {
        return usageError(command,
                          "--base chooses the files and the version list itself; leave out --hvl, "
                          "--hvl-from, --order and NAMEs");
    }
    const ArchiveLayout layout = arguments.has("legacy") ? ArchiveLayout::Legacy : ArchiveLayout::Current;
    const std::string patchPath = arguments.has("out") ? arguments.value("out") : "";

    std::string error;
    uint64_t stubSize = 0;
    PendingFile patch;
    if (!checkArguments(arguments, stubPath, stubSize, patchPath, dryRun, patch, error)) {
        printError(command, error);
        return exitFailed;
    }
    ChosenEntries chosen;
    if (arguments.has("base") || arguments.has("from")) {
        const bool found =
            arguments.has("base") ? releaseEntries(arguments, chosen, error) : folderEntries(arguments, chosen, error);
        if (!found) {
            if (!error.empty()) printError(command, error);
            return exitFailed;
        }
    } else {
        chosen = namedEntries(arguments);
    }

    std::vector<PlannedEntry> entries;
    std::vector<uint8_t> head;
    uint64_t patchSize = 0;
    if (!planEntries(chosen, layout, entries, error) || !planArchive(entries, layout, head, patchSize, error)) {
        printError(command, error);
        return exitFailed;
    }
    for (const PlannedEntry& entry : entries) {
        if (isUninstallListEntry(entry.name)) printError(command, uninstallListPacked());
    }
    if (!dryRun &&
        (!writePatch(stubPath, stubSize, head, entries, chosen.records, chosen.gatherRecords, patch, error) ||
         !patch.commit(error))) {
        printError(command, error);
        return exitFailed;
    }
    std::printf("%s%s: %s, %s layout, %llu bytes%s\n", dryRun ? "would write " : "",
                patchPath.empty() ? "the patch" : patchPath.c_str(),
                countOf(entries.size(), "entry", "entries").c_str(),
                layout == ArchiveLayout::Current ? "current" : "legacy", static_cast<unsigned long long>(patchSize),
                dryRun ? " (--dry-run: nothing written)" : "");
    return exitOk;
}

}  // namespace

const Command buildCommand = {
    "build",
    "build a patch of what changed since earlier releases, or of the files given",
    "Usage: patchtool build [--stub STUB] --out PATCH --base OLD [--base OLD...] --from NEW [--legacy] [--dry-run]\n"
    "                       [--follow-links-outside]\n"
    "       patchtool build [--stub STUB] --out PATCH [--legacy] [--hvl FILE] [ENTRY...]\n"
    "       patchtool build [--stub STUB] --out PATCH --from DIR [--order LIST] [--hvl FILE | --hvl-from DIR]\n"
    "                       [--legacy] [--follow-links-outside] [NAME...]\n"
    "\n"
    "Writes PATCH: the STUB padded with zero bytes to 0x60000, followed by a payload archive of the\n"
    "entries. With --base OLD --from NEW it carries every file of NEW that a base lacks or holds with\n"
    "other bytes, and a version list of the whole of NEW, and lists what it chose and why. Neither\n"
    "NEW's TLX.hvl nor its uninst.lst is packed: every player's uninstall list is kept and merged.\n"
    "What build refuses, and why: man patchtool, REFUSALS.\n"
    "\n"
    "  --stub STUB      the updater executable, at most 393216 bytes. Default: the stub installed with\n"
    "                   patchtool, else build/win32/setup.exe below the current folder\n"
    "  --out PATCH      the patch to write, under a temporary name until it is complete\n"
    "  --base OLD       a release folder players may have; once per release (a cumulative patch)\n"
    "  --from NEW|DIR   the new release folder; without --base, the folder whose files are packed\n"
    "                   (all directly in it but uninst.lst, or the NAMEs given)\n"
    "  --dry-run        print the choice and the patch's size, and write nothing\n"
    "  --legacy         the legacy layout (names of at most 15 bytes instead of 95)\n"
    "  --hvl FILE       pack FILE as the version list TLX.hvl\n"
    "  --hvl-from DIR   make the version list from every file of DIR (the whole game); every packed\n"
    "                   file must match its record there\n"
    "  --order LIST     pack the files named in LIST, one per line, in that order\n"
    "  --follow-links-outside\n"
    "                   take files that links lead to outside their release folder (refused without)\n"
    "\n"
    "ENTRY is PATH, installed under its file name, or NAME=PATH (split at the first '='); NAME may\n"
    "hold folders with '\\'. Paths and names are UTF-8; names are stored in code page 932.\n"
    "man patchtool describes every option in full.\n",
    {{"stub", true},
     {"out", true},
     {"base", true, true},
     {"dry-run", false},
     {"legacy", false},
     {"from", true},
     {"order", true},
     {"hvl", true},
     {"hvl-from", true},
     {followLinksOutsideOption, false}},
    run,
};
