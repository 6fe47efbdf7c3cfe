// The reason of a failed read statement in a reader that counts the lines it
// has read completely: the file, the line after them and what could not be
// read there ("scan.dbw, line 12: 'x' is not a number (columns 16-22)").
#pragma once

#include <string>

#include "core/workspace.h"

namespace qelda {

// Gives a record error that has no reason yet the line and the unit's problem.
inline ConversionStatus with_line_reason(Workspace& ws, ConversionStatus status) {
    if (status != ConversionStatus::record_error || !ws.failure_reason.empty()) return status;
    const std::string& problem = ws.input().problem();
    if (problem.empty()) return status;
    return ws.fail(status, std::string(ws.input().file_name()) + ", line " +
                               std::to_string(ws.record().lines_read + 1) + ": " + problem);
}

}  // namespace qelda
