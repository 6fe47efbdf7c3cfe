// The one table of formats: id, list text, extension, chooser filter, short
// name for the command line, codec routine and directions. The window, the
// command line and the driver all read it.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/driver.h"
#include "core/format_table.h"
#include "core/powder_pattern.h"
#include "core/workspace.h"

namespace qelda {

// Every format, in list order: the nine of FormatId 2-10, then the input-only
// formats of today's instruments (11 on).
std::span<const FormatInfo> formats() noexcept;
// The format with this id, or nullptr for 1 (the empty entry) and anything else.
const FormatInfo* find_format(FormatId id) noexcept;

enum class Direction { input, output };

// The format whose extension equals the three characters (lower case folded to
// upper case); FormatId::none when none matches. Input searches entries 2-10,
// output entries 2-7; the formats from 11 on are told by their content.
FormatId detect_format(std::string_view three_chars, Direction direction) noexcept;

// The three characters after the first "." of a path (fewer when the path ends
// sooner); the first three characters of a path without ".".
std::string_view extension_chars(std::string_view path) noexcept;

// A format named on the command line: short name, list text (any case), or its
// number in the table.
std::optional<FormatId> format_from_name(std::string_view name) noexcept;

// Runs one conversion through this table.
inline ConversionResult run_conversion(Workspace& ws, FormatId input_format,
                                       FormatId output_format) {
    return run_conversion(ws, input_format, output_format, formats());
}

}  // namespace qelda
