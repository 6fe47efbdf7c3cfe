// What the file states and what the user states: values given up front that
// the file overrides are said to be unused, values given to override the file
// replace it with a warning naming both, and defaults nobody chose are named
// when the output keeps them.
#pragma once

#include <string_view>

#include "core/format_table.h"
#include "core/workspace.h"

namespace qelda {

// After a successful read of `file`: replaces what the options override and
// warns about the options the file's own values left unused.
void apply_user_values(Workspace& ws, std::string_view file);

// Before `writer` writes: when it keeps wavelengths and the read used the
// wavelength prompt's defaults that nobody chose, says so.
void warn_assumed_wavelengths(Workspace& ws, const FormatInfo& writer, std::string_view file);

// After a write: a --title that neither the x-y input nor the x-y output took.
void warn_unused_title(Workspace& ws, std::string_view file);

// The shortest decimal text that reads back as `v`.
std::string float_text(float v);

}  // namespace qelda
