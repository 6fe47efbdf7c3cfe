// The command-line converter, callable from tests without a process.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "formats/detect.h"

namespace qelda {

// Runs `qelda-convert` with the given arguments; returns the exit status
// (0 converted, 1 a conversion failed, 2 usage error). `in` is what "-" as
// INPUT reads.
int run_convert_cli(int argc, const char* const* argv, std::FILE* in, std::FILE* out,
                    std::FILE* err);
inline int run_convert_cli(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    return run_convert_cli(argc, argv, stdin, out, err);
}

// How the command line tells the format of an input: its last extension, or
// its content when the extension names no format or one that several formats
// share (.raw, .dat, .asc, .txt, .ras). `content` is asked only then.
struct FormatChoice {
    FormatId format = FormatId::none;
    std::string how;    // "extension .uxd", "content: begins with RAW_"
    std::string error;  // why no format was chosen (format none), naming the candidates
};
FormatChoice choose_input_format(std::string_view name,
                                 const std::function<ContentGuess()>& content);

// The format an output name asks for by its last extension (a written format);
// nullopt when it names none.
std::optional<FormatId> output_format_of_name(std::string_view name);

// A plain decimal number ("2", "1.5406", "1e-3", "+0.5"); nullopt for anything
// else, infinities and NaN included.
std::optional<double> parse_plain_number(std::string_view text);

}  // namespace qelda
