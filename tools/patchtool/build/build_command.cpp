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
    error = "stub " + path + " is " + std::to_string(size) +
            " bytes; it must not be longer than 393216 (0x60000), where the payload begins";
    return false;
}

bool isFolder(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(fileSystemPath(path), ignored);
}

bool isSameFolder(const std::string& one, const std::string& other) {
    std::error_code ignored;
    return std::filesystem::equivalent(fileSystemPath(one), fileSystemPath(other), ignored);
}

// The release folders are folders, and each is given once: a base that is NEW itself, or another
// base again under another spelling, is refused, whatever the paths' spelling.
bool checkReleaseFolders(const ParsedArguments& arguments, std::string& error) {
    const std::string& newFolder = arguments.value("from");
    if (!isFolder(newFolder)) {
        error = "--from " + newFolder + " is not a folder";
        return false;
    }
    if (!arguments.has("base")) return true;
    const std::vector<std::string>& bases = arguments.values("base");
    for (size_t i = 0; i < bases.size(); ++i) {
        if (!isFolder(bases[i])) {
            error = "--base " + bases[i] + " is not a folder";
            return false;
        }
        if (isSameFolder(bases[i], newFolder)) {
            error = "--base " + bases[i] + " is the folder of --from " + newFolder + ", the new release itself";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (isSameFolder(bases[j], bases[i])) {
                error = "--base " + bases[i] + " is the folder of --base " + bases[j] + " again";
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
    if (!arguments.has("from") && (arguments.has("hvl-from") || arguments.has("order") || arguments.has("base"))) {
        return usageError(command, "--base, --hvl-from and --order go with --from DIR");
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
    "       patchtool build [--stub STUB] --out PATCH [--legacy] [--hvl FILE] [ENTRY...]\n"
    "       patchtool build [--stub STUB] --out PATCH --from DIR [--order LIST] [--hvl FILE | --hvl-from DIR]\n"
    "                       [--legacy] [NAME...]\n"
    "\n"
    "Writes PATCH: the STUB executable padded with zero bytes to 0x60000 (393216), followed by a\n"
    "payload archive of the ENTRY files in the order given, their bytes back to back.\n"
    "\n"
    "With --base OLD --from NEW the patch carries what changed between release folders: every file\n"
    "of NEW (subfolders included, links to files and folders followed) that OLD lacks or holds with\n"
    "other bytes, each under its last name, and a version list of the whole of NEW: NEW's own TLX.hvl\n"
    "when it describes NEW's files and lets each packed file find its own record, else one made in\n"
    "the same pass with each packed file's record before any other of the same last name. Files are\n"
    "compared byte for byte (two different files with one check value are two files), and every\n"
    "packed file is folded again while it is copied and must give the check value its record holds:\n"
    "a file that changes meanwhile fails the build and no patch is written. Names are compared as\n"
    "the updater compares them; TLX.hvl and uninst.lst take no part. --base may be given several\n"
    "times, once per release players may have: the patch then carries every file that any of them\n"
    "lacks or holds with other bytes, and brings an install of each of them to NEW. It prints per\n"
    "file 'changed', 'new' or 'removed' (files of a base that NEW lacks; a patch cannot remove them,\n"
    "so this also warns), with several bases the bases each line concerns, the number unchanged and\n"
    "which version list it carries.\n"
    "  --dry-run     print the choice and the patch's size, and write nothing (--out may be left out)\n"
    "\n"
    "What would harm an install or cannot be carried is refused before anything is written, with a\n"
    "line each and exit status 1 (with --dry-run too): a NEW that holds no file but TLX.hvl and\n"
    "uninst.lst; nothing changed against any base ('no patch is needed'); a base given twice or NEW\n"
    "given as a base (the same folder under any spelling); anything in a release that is neither a\n"
    "file nor a folder nor a link to one (a link that leads nowhere or into a loop, a socket), or\n"
    "whose name is not UTF-8; more than 31 files; two packed files of one last name; a packed file\n"
    "whose folder a base lacks (the updater creates none: leave out that base or build it a patch of\n"
    "its own); a name the updater refuses. The stub, the release folders and the folder of PATCH are\n"
    "checked before any file is read.\n"
    "\n"
    "  --stub STUB   the updater executable; at most 393216 bytes. Default: the first that exists\n"
    "                of the stub installed with patchtool (beside patchtool.exe on Windows) and\n"
    "                build/win32/setup.exe below the current folder\n"
    "  --out PATCH   the patch to write; written under a temporary name and moved into place only\n"
    "                when complete, so a failed build leaves an existing PATCH untouched. An\n"
    "                existing PATCH must be a regular file (not a folder, device or link)\n"
    "  --legacy      write the legacy layout (32-byte index entries, names of at most 15 bytes)\n"
    "                instead of the current one (128-byte index entries, names of at most 95 bytes)\n"
    "\n"
    "ENTRY is PATH, installed under the path's file name, or NAME=PATH (split at the first '=';\n"
    "a path that contains '=' needs the NAME=PATH form). Names are stored in code page 932 and may\n"
    "carry a folder part with '\\'; they are judged by code page 932's rules on every system. At\n"
    "most 32 entries; names that do not fit the layout, names that code page 932 cannot hold, names\n"
    "the updater would install outside the game folder (absolute, a drive, '.' or '..' parts) and\n"
    "names given twice (ignoring case) are refused, before anything is written.\n"
    "  --hvl FILE    add FILE as the version list entry TLX.hvl\n"
    "\n"
    "With --from DIR the entries are the files of DIR: all regular files directly in it (or behind\n"
    "links in it) but uninst.lst, sorted by name, or the NAMEs given, or the names of the list file\n"
    "--order LIST (one per line), in that order; a uninst.lst named so is packed, with a warning that\n"
    "it replaces every player's uninstall list. The version list is DIR's own TLX.hvl if it has one, else --hvl\n"
    "FILE, else one made by this build and packed as the last entry TLX.hvl: with a record for every\n"
    "file of --hvl-from DIR (the whole game, when the patch carries only some of its files), or by\n"
    "default with a record for every packed file, whose check values are taken while the files are\n"
    "copied. A DIR that holds no file but TLX.hvl and uninst.lst is refused.\n"
    "\n"
    "Paths and names are UTF-8 (on Windows, the command line is read as the system gives it in\n"
    "UTF-16, so names mean the same whatever the system's code page).\n",
    {{"stub", true},
     {"out", true},
     {"base", true, true},
     {"dry-run", false},
     {"legacy", false},
     {"from", true},
     {"order", true},
     {"hvl", true},
     {"hvl-from", true}},
    run,
};
