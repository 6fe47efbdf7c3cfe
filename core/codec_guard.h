// Keeps exceptions inside a codec: a failed statement without outcomes (IoAbort)
// and any other failure become the status `aborted`, with the report kept in the
// workspace for the driver to show.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "core/record_io.h"
#include "core/workspace.h"

namespace qelda {

// The status of a reader whose statement failed: the input ended early (4) or a
// record could not be read (2).
inline ConversionStatus read_failure_status(Outcome outcome) noexcept {
    return outcome == Outcome::end_of_file ? ConversionStatus::premature_end
                                           : ConversionStatus::record_error;
}

template <class Body>
ConversionStatus guard_codec(Workspace& ws, Body&& body) noexcept {
    try {
        return body();
    } catch (const IoAbort& abort) {
        ws.abort_report = abort.report;
    } catch (const std::bad_alloc&) {
        ws.abort_report = "out of memory";
    } catch (const std::exception& e) {
        ws.abort_report = std::string("internal error: ") + e.what();
    } catch (...) {
        ws.abort_report = "internal error";
    }
    return ConversionStatus::aborted;
}

}  // namespace qelda
