// Format detection by content: signatures and first lines decide, beside the
// format table. Used where a file's name does not tell its format, or tells one
// that two formats share (.raw, .dat, .asc, .txt).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/powder_pattern.h"

namespace qelda {

struct ContentGuess {
    FormatId format = FormatId::none;  // none: no format, or more than one, matches
    std::vector<FormatId> candidates;  // every format that matches
    std::string reason;                // why, in lower case ("begins with RAW1.01")
};

// Guesses from a file's first bytes (a zip needs the whole file: its members
// are listed at its end).
ContentGuess detect_content(std::string_view bytes);
// Reads what the guess needs from the file.
ContentGuess detect_file(const std::string& path);

}  // namespace qelda
