// The command-line converter, callable from tests without a process.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/file_names.h"

namespace qelda {

// Runs `qelda-convert` with the given arguments; returns the exit status
// (0 converted, 1 a conversion failed, 2 usage error). `in` is what "-" as
// INPUT reads.
int run_convert_cli(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                    std::FILE* err);
inline int run_convert_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    return run_convert_cli(argc, argv, stdin, out, err);
}

// A plain decimal number ("2", "1.5406", "1e-3", "+0.5"); nullopt for anything
// else, infinities and NaN included.
std::optional<double> parse_plain_number(std::string_view text);

}  // namespace qelda
