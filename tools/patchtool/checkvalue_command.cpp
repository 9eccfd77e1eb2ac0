// patchtool checkvalue: the check value of files, as the version list stores it.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "engine/check_value.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/platform.h"
#include "tools/patchtool/report.h"

namespace {

int run(const ParsedArguments& arguments) {
    std::vector<std::string> files = arguments.operands;
    if (files.empty()) files.push_back("-");
    setBinaryMode(stdin);
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[fileChunkSize]);
    int status = exitOk;
    for (const std::string& file : files) {
        const bool standardInput = file == "-";
        errno = 0;
        const OwnedFile opened(standardInput ? nullptr : openFile(file, "rb"));
        std::FILE* stream = standardInput ? stdin : opened.get();
        if (stream == nullptr) {
            printError("checkvalue", file + ": " + lastSystemError());
            status = exitFailed;
            continue;
        }
        CheckValue value;
        errno = 0;
        const bool read = foldStream(stream, value, buffer.get());
        if (!read) printError("checkvalue", file + ": " + lastSystemError());
        if (standardInput) std::clearerr(stdin);
        if (!read) {
            status = exitFailed;
            continue;
        }
        std::printf("%s  %s\n", lowerHex(value.bytes(), checkValueSize).c_str(), file.c_str());
    }
    return status;
}

}  // namespace

const Command checkValueCommand = {
    "checkvalue",
    "print the 8-byte check value of files",
    "Usage: patchtool checkvalue [FILE...]\n"
    "\n"
    "Prints for each FILE the check value that a version list stores for it, as 16 lower-case hex\n"
    "digits (the 8 bytes in stored order), two spaces and the file name. With no FILE, or when FILE\n"
    "is -, reads standard input. Files are read in chunks of 1 MiB, never whole.\n"
    "\n"
    "A file that cannot be read is reported on standard error; the others are still printed, and\n"
    "the exit status is then 1.\n",
    {},
    run,
};
