#include "tools/patchtool/arguments.h"

bool parseArguments(const std::vector<std::string>& arguments, size_t first, const std::vector<OptionRule>& rules,
                    ParsedArguments& parsed, std::string& error) {
    bool optionsEnded = false;
    for (size_t i = first; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            parsed.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            parsed.help = true;
            continue;
        }
        if (argument.compare(0, 2, "--") != 0) {
            error = "unknown option " + argument;
            return false;
        }
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : rules) {
            if (name == candidate.name) rule = &candidate;
        }
        if (rule == nullptr) {
            error = "unknown option --" + name;
            return false;
        }
        if (parsed.has(name)) {
            error = "option --" + name + " given twice";
            return false;
        }
        if (!rule->takesValue) {
            if (equals != std::string::npos) {
                error = "option --" + name + " takes no value";
                return false;
            }
            parsed.options[name] = "";
        } else if (equals != std::string::npos) {
            parsed.options[name] = argument.substr(equals + 1);
        } else if (i + 1 < arguments.size()) {
            parsed.options[name] = arguments[++i];
        } else {
            error = "option --" + name + " needs a value";
            return false;
        }
    }
    return true;
}
