// patchtool apply: the real update run on a folder, headless.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/update_run.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/game_folder.h"
#include "tools/patchtool/json_output.h"
#include "tools/patchtool/name_encoding.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"
#include "tools/patchtool/terminal_host.h"

namespace {

constexpr const char* command = "apply";

std::string stepReason(const UpdateRunReport& report) {
    if (report.systemError != 0) return describeSystemError(report.systemError);
    return runStepTexts[static_cast<int>(report.failedStep)].reason;
}

std::string failedName(const UpdateRunReport& report) {
    return codePage932ToUtf8(report.failedName, std::strlen(report.failedName));
}

// "NAME: STEP: REASON" of the report's failure; empty when it records none.
std::string describeFailure(const UpdateRunReport& report) {
    if (report.failedStep == RunStep::None) return "";
    const std::string name = failedName(report);
    return (name.empty() ? "" : name + ": ") + runStepName(report.failedStep) + ": " + stepReason(report);
}

void printReportJson(UpdateResult result, const UpdateRunReport& report) {
    Json installed = Json::array();
    for (uint32_t i = 0; i < report.installedCount; ++i) {
        installed.push_back(codePage932ToUtf8(report.installed[i], std::strlen(report.installed[i])));
    }
    Json failure;  // null when nothing failed
    if (report.failedStep != RunStep::None) {
        failure = {{"name", failedName(report)},
                   {"step", runStepName(report.failedStep)},
                   {"systemError", report.systemError},
                   {"reason", stepReason(report)}};
    }
    printJson(
        {{"result", resultName(result)}, {"code", resultCode(result)}, {"installed", installed}, {"failure", failure}});
}

int run(const ParsedArguments& arguments) {
    if (arguments.operands.size() != 1) return usageError(command, "expects exactly one PATCH");
    if (!arguments.has("folder")) return usageError(command, "--folder DIR is required");
    const std::string& patch = arguments.operands[0];
    std::error_code ignored;
    const std::optional<std::string> patchPath = engineFilePath(patch);
    if (!std::filesystem::is_regular_file(fileSystemPath(patch), ignored) || !patchPath) {
        printError(command, "cannot read the patch " + patch);
        return exitFailed;
    }
    GameFolder folder;
    std::string error;
    if (!readGameFolder(arguments.value("folder"), folder, error)) {
        printError(command, error);
        return exitFailed;
    }

    TerminalProgress progress;
    const RunHost host = beginTerminalRun(progress);
    UpdateRunReport report;
    const UpdateResult result = runUpdateFromPatch(patchPath->c_str(), folder.engine.c_str(), host, &report);
    endTerminalRun(progress);

    const std::string failure = describeFailure(report);
    if (arguments.has("json")) {
        printReportJson(result, report);
    } else if (result != Ok && !failure.empty()) {
        std::printf("%s: %s\n", describeResult(result).c_str(), failure.c_str());
    } else {
        std::printf("%s\n", describeResult(result).c_str());
    }
    // The files are installed, but the installed version list still names files that are gone.
    if (result == Ok && !failure.empty()) printError(command, "warning: " + failure + " (TLX.hvl was not pruned)");
    return result == Ok ? exitOk : exitFailed;
}

}  // namespace

const Command applyCommand = {
    "apply",
    "install a patch into a folder, as the updater would",
    "Usage: patchtool apply PATCH --folder DIR [--json]\n"
    "\n"
    "Runs the updater's own update on DIR with the payload of PATCH: every entry is staged beside\n"
    "its target and checked against the patch's version list, all of them are moved into place only\n"
    "when every one has passed, the installed TLX.hvl is pruned and the names are merged into\n"
    "uninst.lst. A failure before the moves leaves DIR as it was. Ctrl-C stops the run the same way\n"
    "(result Cancelled).\n"
    "\n"
    "Prints the result, for example 'Ok (0x00000000)'; a failed run also names the file, the step\n"
    "and the system's reason: 'FileWriteFailed (0x80000004): data3.arc: move: permission denied'.\n"
    "What each step means: man patchtool, STEPS. A progress line is shown on standard error when\n"
    "it is a terminal.\n"
    "\n"
    "On Windows the files are found through the system's ANSI code page, as the updater finds them\n"
    "on that PC.\n"
    "\n"
    "  --folder DIR   the game's install folder (required)\n"
    "  --json         print {\"result\": NAME, \"code\": \"0x...\", \"installed\": [target names],\n"
    "                 \"failure\": null or {\"name\": ..., \"step\": ..., \"systemError\": N, \"reason\": ...}}\n"
    "\n"
    "Exit status: 0 when the result is Ok, 1 otherwise, 2 when the command line is wrong.\n",
    {{"folder", true}, {"json", false}},
    run,
};
