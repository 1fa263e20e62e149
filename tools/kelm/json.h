// JSON output helpers of the kelm tool. Every JSON document the tool prints
// is valid UTF-8: text from outside (file names above all) goes through
// json_string, which replaces bytes that are not UTF-8 with U+FFFD.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelm_cli {

// A quoted JSON string. Valid UTF-8 sequences are kept as they are; every
// byte that does not start or continue a valid sequence (overlong forms and
// surrogates included) becomes "\ufffd"; control characters are escaped.
std::string json_string(std::string_view s);

// ["a","b"] from a list of plain strings.
std::string json_string_array(const std::vector<std::string>& items);

// The object every failed command prints with --json: {"error":..,"file":..},
// file null when the failure concerns no file.
std::string json_error(const std::string& message, const std::string* file);

}  // namespace kelm_cli
