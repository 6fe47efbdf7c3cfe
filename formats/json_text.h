// JSON texts and numbers as the JSON writer prints them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qelda {

// Length of the longest prefix of `s` that is valid UTF-8.
std::size_t utf8_valid_prefix(std::string_view s) noexcept;

// Appends `s` as a JSON string: valid UTF-8 passes as it is, escaped only
// where JSON needs it (quote, backslash, control characters); a text that is
// not UTF-8 is taken as Latin-1. Returns false in that case.
bool append_json_string(std::string& out, std::string_view s);

// Appends a float so that it reads back as the same float: whole numbers as
// integers, others as the shortest decimal; null when not finite.
void append_json_number(std::string& out, float v);

}  // namespace qelda
