// The entries named on the command line: PATH (installed under the path's file name) or NAME=PATH.
#include "engine/version_list.h"
#include "tools/patchtool/build/entry_sources.h"
#include "tools/patchtool/platform.h"

namespace {

// ENTRY is PATH (installed under the path's file name) or NAME=PATH, split at the first "=".
EntrySource splitOperand(const std::string& operand) {
    const size_t equals = operand.find('=');
    if (equals == std::string::npos) return {fileNameOf(operand), operand, {}, {}};
    return {operand.substr(0, equals), operand.substr(equals + 1), {}, {}};
}

}  // namespace

std::string fileNameOf(const std::string& path) {
    std::string name;
    utf8Path(fileSystemPath(path).filename(), name);
    return name;
}

ChosenEntries namedEntries(const ParsedArguments& arguments) {
    ChosenEntries chosen;
    for (const std::string& operand : arguments.operands) chosen.sources.push_back(splitOperand(operand));
    if (arguments.has("hvl")) chosen.sources.push_back({versionListName, arguments.value("hvl"), {}, {}});
    return chosen;
}
