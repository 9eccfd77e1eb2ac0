#pragma once
// JSON output of the commands' --json option: one object on one line of standard output, keys in
// the order they were set.

#include <cstdio>
#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

inline void printJson(const Json& value) {
    // Names are decoded to UTF-8 before they get here; should a byte slip through, it is replaced
    // rather than ending the output half-way.
    std::printf("%s\n", value.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}
