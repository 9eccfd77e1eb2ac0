#include "tools/patchtool/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void printError(const char* command, const std::string& message) {
    std::fprintf(stderr, "patchtool: %s%s%s\n", command, *command != '\0' ? ": " : "", message.c_str());
}

int usageError(const char* command, const std::string& message) {
    const std::string help = *command != '\0' ? std::string("patchtool ") + command + " --help" : "patchtool --help";
    printError(command, message + " (see " + help + ")");
    return exitUsage;
}

std::string resultName(UpdateResult result) {
    const char* name = updateResultName(result);
    return name != nullptr ? name : "unknown result";
}

std::string resultCode(UpdateResult result) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
    return code;
}

std::string describeResult(UpdateResult result) { return resultName(result) + " (" + resultCode(result) + ")"; }

std::string countOf(uint64_t count, const char* singular, const char* plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string lowerHex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string lastSystemError() { return errno != 0 ? std::strerror(errno) : "unknown error"; }
