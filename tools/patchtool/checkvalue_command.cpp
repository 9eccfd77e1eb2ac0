// patchtool checkvalue: the check value of files, as the version list stores it.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "engine/check_value.h"
#include "tools/patchtool/commands.h"
#include "tools/patchtool/report.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr uint32_t chunkSize = 1u << 20;

// Folds the whole stream into `value` chunk by chunk. False, with errno set, when a read fails.
bool foldStream(std::FILE* stream, CheckValue& value, uint8_t* buffer) {
    value.reset();
    for (;;) {
        const size_t moved = std::fread(buffer, 1, chunkSize, stream);
        value.update(buffer, static_cast<uint32_t>(moved));
        if (moved < chunkSize) return std::ferror(stream) == 0;
    }
}

int run(const ParsedArguments& arguments) {
    std::vector<std::string> files = arguments.operands;
    if (files.empty()) files.push_back("-");
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const std::unique_ptr<uint8_t[]> buffer(new uint8_t[chunkSize]);
    int status = exitOk;
    for (const std::string& file : files) {
        const bool standardInput = file == "-";
        errno = 0;
        std::FILE* stream = standardInput ? stdin : std::fopen(file.c_str(), "rb");
        if (stream == nullptr) {
            printError("checkvalue", file + ": " + lastSystemError());
            status = exitFailed;
            continue;
        }
        CheckValue value;
        errno = 0;
        const bool read = foldStream(stream, value, buffer.get());
        if (!read) printError("checkvalue", file + ": " + lastSystemError());
        if (standardInput) {
            std::clearerr(stdin);
        } else {
            std::fclose(stream);
        }
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
