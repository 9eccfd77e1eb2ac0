// The entries of a --base build: what changed between the release folders, and the listing of why.
#include <cstdio>
#include <set>

#include "engine/version_list.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/build/release_comparison.h"
#include "tools/patchtool/build/release_folder.h"
#include "tools/patchtool/build/release_lists.h"
#include "tools/patchtool/report.h"

namespace {

// The bases of `change`, as typed, for its listing line.
std::string basesOf(const ReleaseChange& change, const std::vector<std::string>& bases) {
    std::string shown;
    for (const size_t base : change.bases) shown += (shown.empty() ? "" : ", ") + bases[base];
    return shown;
}

// Prints what a build from releases chose and why: with one base a line per changed, new and
// removed file; with several, each changed file's line ends with the bases against which it is new
// or changed, and each removed file's with the base that holds it. False, after listing on
// standard error why no patch can be built, when none can.
bool reportComparison(const ReleaseComparison& comparison, const std::vector<std::string>& bases) {
    for (const std::string& problem : comparison.problems) printError(buildCommandName, problem);
    if (!comparison.problems.empty()) return false;
    std::set<std::string> removed;  // a file several bases hold counts once
    const bool several = bases.size() > 1;
    for (const ReleaseChange& change : comparison.changes) {
        static const char* const changeNames[] = {"changed", "new", "removed"};
        std::string note;
        if (change.change == FileChange::Removed) {
            note = "  (" + (several ? "in " + basesOf(change, bases) + ", " : "") +
                   "not in NEW; a patch cannot remove it)";
            removed.insert(change.path);
        } else if (change.change == FileChange::Changed && several) {
            note = "  (" + basesOf(change, bases) + ")";
        }
        if (!change.from.empty()) note += outsideNote(change.from);
        std::printf("%-9s  %s%s\n", changeNames[static_cast<int>(change.change)], change.path.c_str(), note.c_str());
    }
    std::printf("%-9s  %s\n", "unchanged", countOf(comparison.unchanged, "file", "files").c_str());
    if (comparison.uninstallListLeftOut) printUninstallListLeftOut();
    std::printf("version list: %s\n", comparison.listNote.c_str());
    if (comparison.outsideFiles > 0) printError(buildCommandName, linksOutsideFollowed(comparison.outsideFiles));
    if (!removed.empty()) {
        printError(buildCommandName, "warning: " + countOf(removed.size(), "removed file stays", "removed files stay") +
                                         " in players' installs; a patch cannot remove files");
    }
    return true;
}

}  // namespace

bool releaseEntries(const ParsedArguments& arguments, ChosenEntries& chosen, std::string& error) {
    ReleaseComparison comparison;
    const bool followLinksOutside = arguments.has(followLinksOutsideOption);
    if (!compareReleases(arguments.values("base"), arguments.value("from"), followLinksOutside, comparison, error)) {
        return false;
    }
    if (!reportComparison(comparison, arguments.values("base"))) return false;
    const std::string within = followLinksOutside ? "" : arguments.value("from");
    for (const ChosenFile& file : comparison.chosen) {
        chosen.sources.push_back({fileNameOf(file.shownName), file.path, RecordedBytes{file.size, file.value}, within});
    }
    if (!comparison.listFile.empty()) {
        chosen.sources.push_back({versionListName, comparison.listFile, {}, within});
    } else {
        chosen.records = std::move(comparison.records);
        chosen.listRecords = chosen.records.size();
    }
    return true;
}
