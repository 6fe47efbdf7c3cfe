// The one table of formats: id, list text, extension, chooser filter, short
// name for the command line, codec routine and directions. The window, the
// command line and the driver all read it.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/powder_pattern.h"
#include "core/workspace.h"

namespace qelda {

using CodecRoutine = ConversionStatus (*)(Workspace&, CodecMode) noexcept;

struct FormatInfo {
    FormatId id;
    std::string_view list_text;           // entry of the format lists
    std::string_view extension;           // three upper-case characters
    std::string_view filter_description;  // chooser filter
    std::string_view filter_pattern;
    std::string_view short_name;  // command-line name
    CodecRoutine codec;
    bool reads;           // the codec reads this format
    bool writes;          // the codec writes this format (status 0 possible)
    bool in_output_list;  // listed in the output list (FormatId 2-7)
};

// The nine formats, in list order (FormatId 2-10).
std::span<const FormatInfo> formats() noexcept;
// The format with this id, or nullptr for 1 (the empty entry) and anything else.
const FormatInfo* find_format(FormatId id) noexcept;

enum class Direction { input, output };

// The format whose extension equals the three characters (lower case folded to
// upper case); FormatId::none when none matches. Input searches entries 2-10,
// output entries 2-7.
FormatId detect_format(std::string_view three_chars, Direction direction) noexcept;

// The three characters after the first "." of a path (fewer when the path ends
// sooner); the first three characters of a path without ".".
std::string_view extension_chars(std::string_view path) noexcept;

// A format named on the command line: short name, list text (any case), or a
// number 2-10.
std::optional<FormatId> format_from_name(std::string_view name) noexcept;

}  // namespace qelda
