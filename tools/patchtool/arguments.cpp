#include "tools/patchtool/arguments.h"

#include <CLI/CLI.hpp>

bool parseArguments(const std::vector<std::string>& arguments, size_t first, const std::vector<OptionRule>& rules,
                    ParsedArguments& parsed, std::string& error) {
    CLI::App app;
    app.set_help_flag("-h,--help");
    std::vector<std::string> values(rules.size());
    std::vector<std::vector<std::string>> repeated(rules.size());
    std::vector<CLI::Option*> options;
    for (size_t i = 0; i < rules.size(); ++i) {
        const std::string name = std::string("--") + rules[i].name;
        if (!rules[i].takesValue) {
            options.push_back(app.add_flag(name)->disable_flag_override());
        } else if (rules[i].repeatable) {
            options.push_back(app.add_option(name, repeated[i])
                                  ->expected(1)
                                  ->allow_extra_args(false)
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
        } else {
            options.push_back(app.add_option(name, values[i]));
        }
    }
    app.add_option("operands", parsed.operands);
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend() - static_cast<std::ptrdiff_t>(first));
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.help = true;
        return true;
    } catch (const CLI::ParseError& failure) {
        error = failure.what();
        // CLI11 calls a value given to a flag ("--json=yes") a flag override.
        const std::string override = " was given a disallowed flag override";
        if (error.size() > override.size() && error.ends_with(override)) {
            error = "option --" + error.substr(0, error.size() - override.size()) + " takes no value";
        }
        return false;
    }
    for (size_t i = 0; i < rules.size(); ++i) {
        if (options[i]->count() == 0) continue;
        parsed.options[rules[i].name] = rules[i].repeatable ? repeated[i] : std::vector<std::string>{values[i]};
    }
    return true;
}
