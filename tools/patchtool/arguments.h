#pragma once
// The command line of patchtool's commands, parsed by CLI11: options of the form --name,
// --name VALUE or --name=VALUE anywhere among the operands, "--" ending the options, "-h"/"--help"
// for help. A lone "-" is an operand (standard input).

#include <map>
#include <string>
#include <vector>

struct OptionRule {
    const char* name;  // without the leading "--"
    bool takesValue;
    bool repeatable = false;  // may be given more than once, each time with one value
};

struct ParsedArguments {
    std::vector<std::string> operands;
    std::map<std::string, std::vector<std::string>> options;  // given options, their values in order; flags map to {""}
    bool help = false;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    const std::string& value(const std::string& name) const { return options.at(name).front(); }
    const std::vector<std::string>& values(const std::string& name) const { return options.at(name); }
};

// Parses arguments[first..]. False, with a one-line reason in `error`, for an unknown option, an
// option that is not repeatable given twice, a value missing, or a value given to a flag.
bool parseArguments(const std::vector<std::string>& arguments, size_t first, const std::vector<OptionRule>& rules,
                    ParsedArguments& parsed, std::string& error);
