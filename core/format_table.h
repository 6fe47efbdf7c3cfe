// What the driver needs to know of a format: its codec routine and its
// directions. The table itself lives with the codecs; the driver receives it.
#pragma once

#include <string_view>

#include "core/powder_pattern.h"

namespace qelda {

class Workspace;

using CodecRoutine = ConversionStatus (*)(Workspace&, CodecMode) noexcept;

struct FormatInfo {
    FormatId id;
    std::string_view list_text;           // entry of the format lists
    std::string_view extension;           // three upper-case characters
    std::string_view filter_description;  // chooser filter
    std::string_view filter_pattern;
    std::string_view short_name;  // command-line name
    CodecRoutine codec;
    bool reads;                      // the codec reads this format
    bool writes;                     // the codec writes this format (status 0 possible)
    bool in_output_list;             // listed in the output list (after the blank entry)
    bool holds_wavelengths = false;  // the writer keeps the wavelengths
    bool available = true;           // false: this build lacks the codec's library
    bool holds_angles = false;       // the writer writes each point's angle, not start and step
    bool holds_axis = false;         // the writer can write d or Q instead of 2theta
};

}  // namespace qelda
