// How a file's name tells its format: the last extension of an input decides,
// or, where several formats share it (.raw, .dat, .asc, .txt, .ras, .csv), the
// content does; an output's extension names the format written. The command
// line, the library and the Python module tell formats by these rules.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/powder_pattern.h"
#include "formats/detect.h"

namespace qelda {

// The last extension of a file name decides; a shared one lets the content
// decide and falls back on `format` when the content does not tell.
struct ExtensionRule {
    std::string_view extension;  // lower case, without the dot
    FormatId format;
    bool shared;
};

// Every input extension the rules know, in the order of the formats.
std::span<const ExtensionRule> extension_rules() noexcept;

// The last extension of a path's file name, in lower case, without the dot;
// empty when there is none.
std::string last_extension(std::string_view path);

// The extension a batch gives each output format (".gsa").
std::string_view default_extension(FormatId id);

// How the format of an input is told: its last extension, or its content when
// the extension names no format or one that several formats share. `content`
// is asked only then.
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

}  // namespace qelda
