// patchtool: the publisher's tool for building and checking Vennholt update patches.
#include <cstdio>
#include <string>
#include <vector>

#include "patchtool_version.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"

namespace {

const Command* const commands[] = {&buildCommand, &listCommand,       &verifyCommand, &applyCommand,
                                   &checkCommand, &checkValueCommand, &hvlCommand};

void printToolHelp() {
    std::printf(
        "Usage: patchtool COMMAND [OPTIONS] [ARGUMENTS]\n"
        "\n"
        "Builds and checks Vennholt update patches: a setup.exe stub with a payload archive of the\n"
        "new game files appended at file offset 0x60000.\n"
        "\n"
        "Commands:\n");
    for (const Command* command : commands) std::printf("  %-11s %s\n", command->name, command->summary);
    std::printf(
        "\n"
        "'patchtool COMMAND --help' or 'patchtool help COMMAND' gives a command's options; 'man patchtool'\n"
        "describes every command, option, step of a failed run and refusal of build in full.\n"
        "'patchtool --version' prints the version and the commit it was built from.\n"
        "Exit status: 0 on success, 1 when the work failed, 2 when the command line is wrong.\n");
}

const Command* findCommand(const std::string& name) {
    for (const Command* command : commands) {
        if (name == command->name) return command;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    useUtf8Console();
    const std::vector<std::string> arguments = commandLineArguments(argc, argv);
    if (arguments.size() < 2) return usageError("", "no command given");
    const std::string& first = arguments[1];
    if (first == "-h" || first == "--help") {
        printToolHelp();
        return exitOk;
    }
    if (first == "--version") {
        std::printf("patchtool %s (commit %s)\n", patchtoolVersion, patchtoolCommit);
        return exitOk;
    }
    if (first == "help") {
        if (arguments.size() < 3) {
            printToolHelp();
            return exitOk;
        }
        const Command* command = findCommand(arguments[2]);
        if (command == nullptr) return usageError("", "unknown command '" + arguments[2] + "'");
        std::fputs(command->help, stdout);
        return exitOk;
    }
    const Command* command = findCommand(first);
    if (command == nullptr) return usageError("", "unknown command '" + first + "'");

    ParsedArguments parsed;
    std::string error;
    if (!parseArguments(arguments, 2, command->options, parsed, error)) return usageError(command->name, error);
    if (parsed.help) {
        std::fputs(command->help, stdout);
        return exitOk;
    }
    const int status = command->run(parsed);
    if (std::fflush(stdout) != 0 && status == exitOk) {
        printError(command->name, "cannot write the output: " + lastSystemError());
        return exitFailed;
    }
    return status;
}
