// The Convert action: reader, dataset dialog, intensity shift, writer, report.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/format_table.h"
#include "core/powder_pattern.h"
#include "core/workspace.h"

namespace qelda {

inline constexpr std::size_t kFailureMessageLength = 100;

// Messages of the driver, word for word.
inline constexpr const char* kMsgNotAvailable = "THIS DATA FORMAT NOT YET AVAILABLE";
inline constexpr const char* kMsgUnexpectedEnd = "UNEXPECTED END OF FILE";
inline constexpr const char* kMsgReadError = "ERROR READING INPUT FILE AFTER LINE";
// The same for files without lines (archives, binary files).
inline constexpr const char* kMsgReadErrorAtByte = "ERROR READING INPUT FILE AT BYTE";
inline constexpr const char* kMsgTooManyPoints = "NO. DATA EXCEEDED MAXIMUM OF ";
inline constexpr const char* kMsgWriteError = "ERROR WRITING OUTPUT FILE";
inline constexpr const char* kMsgTooLarge = "DATA TOO LARGE FOR OUTPUT FORMAT";
inline constexpr const char* kMsgUnevenGrid = "ANGLES NOT ON AN EVEN GRID";
inline constexpr const char* kMsgOpenInput = "ERROR OPENING INPUT DATA FILE";
inline constexpr const char* kMsgOpenOutput = "ERROR OPENING OUTPUT DATA FILE";

struct ConversionResult {
    bool started = false;  // the input format was one of 2-10
    ConversionStatus read_status = ConversionStatus::done;
    bool write_attempted = false;  // the output format was one of 2-7
    ConversionStatus write_status = ConversionStatus::done;
    std::string failure_message;        // as passed to show_failure, or empty
    std::string reason;                 // why it failed, in lower case, or empty
    std::vector<std::string> warnings;  // what the read, then the write, left out or changed
    bool has_sigma = false;             // the file gave uncertainties
    bool cancelled = false;             // the user cancelled it: nothing was written

    // The read succeeded and the writer (if one ran) wrote and committed the file.
    bool succeeded() const noexcept {
        return started && !cancelled && read_status == ConversionStatus::done &&
               (!write_attempted || write_status == ConversionStatus::done);
    }
};

// Runs one conversion with units 1 and 2 already open and both paths set, with
// the codecs of `table`. An input format the table does not hold does nothing;
// an output format that is neither listed nor written stops after the intensity shift,
// leaving unit 2 open and the selection as it is.
ConversionResult run_conversion(Workspace& ws, FormatId input_format, FormatId output_format,
                                std::span<const FormatInfo> table);

// What every successful read must leave: at least one point, no more than the
// record holds, a finite start and step, and a step that is not 0 unless the
// scan is a single point. Anything else fails with its reason.
ConversionStatus check_read(Workspace& ws);

// Adds 0.001 to every intensity when any of them is below 0.001 (unless the
// read options keep the intensities as read); returns what it added.
float raise_low_intensities(PowderPattern& record) noexcept;

// The failure message of a read (or, with `writing`, a write) status, blank-padded
// to 100 characters; an aborted statement's report is returned as it stands.
std::string failure_message_for(const Workspace& ws, ConversionStatus status, bool writing);

// Why a read (or write) failed: what the codec said, or else what the units
// know (the statement that failed, the file system's answer).
std::string failure_reason_for(const Workspace& ws, ConversionStatus status, bool writing);

}  // namespace qelda
