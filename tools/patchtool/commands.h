#pragma once
// The commands of patchtool. Each one lives in its own file and is described here by its name,
// its help text and its options; main() parses the options and hands them over.

#include <vector>

#include "tools/patchtool/arguments.h"

struct Command {
    const char* name;
    const char* summary;  // one line for the tool's own help
    const char* help;     // the command's --help text
    std::vector<OptionRule> options;
    int (*run)(const ParsedArguments& arguments);
};

extern const Command checkValueCommand;
extern const Command buildCommand;
extern const Command listCommand;
extern const Command applyCommand;
extern const Command hvlCommand;
extern const Command verifyCommand;
extern const Command checkCommand;
