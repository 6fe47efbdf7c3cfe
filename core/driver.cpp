#include "core/driver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "core/display_texts.h"
#include "core/pattern_options.h"
#include "core/stated_values.h"

namespace qelda {

float raise_low_intensities(PowderPattern& record) noexcept {
    const int32_t n = std::min(record.point_count, kPointCapacity);
    if (n < 1) return 0.0f;
    float* v = record.intensity.data();
    bool low = false;
    for (int32_t i = 0; i < n; ++i) low = low || v[i] < 0.001f;
    if (!low) return 0.0f;
    for (int32_t i = 0; i < n; ++i) v[i] += 0.001f;
    return 0.001f;
}

ConversionStatus check_read(Workspace& ws) {
    const PowderPattern& r = ws.record();
    const std::string file(ws.input().file_name());
    if (r.point_count < 1)
        return ws.fail(ConversionStatus::premature_end, file + " holds no data points");
    if (r.point_count > std::min(r.max_points, kPointCapacity))
        return ConversionStatus::too_many_points;
    if (!std::isfinite(r.two_theta_start) || !std::isfinite(r.two_theta_step))
        return ws.fail(ConversionStatus::record_error,
                       file + ": the start or the step of the scan is not a number");
    if (!r.angles.empty()) {
        if (r.angles.size() != static_cast<std::size_t>(r.point_count))
            return ws.fail(ConversionStatus::record_error,
                           file + ": " + std::to_string(r.angles.size()) + " angles for " +
                               std::to_string(r.point_count) + " points");
        if (!std::all_of(r.angles.begin(), r.angles.end(),
                         [](double a) { return std::isfinite(a); }))
            return ws.fail(ConversionStatus::record_error,
                           file + ": an angle of the scan is not a number");
        return ConversionStatus::done;
    }
    if (r.point_count > 1 && r.two_theta_step == 0.0f)
        return ws.fail(
            ConversionStatus::record_error,
            file + ": the step of the scan is 0 for " + std::to_string(r.point_count) + " points");
    return ConversionStatus::done;
}

std::string failure_reason_for(const Workspace& ws, ConversionStatus status, bool writing) {
    if (status == ConversionStatus::done) return {};
    if (!ws.failure_reason.empty()) return ws.failure_reason;
    if (writing) {
        const std::string& error = ws.output().commit_error();
        if (!error.empty()) return ws.output().path() + ": " + error;
        return {};
    }
    const std::string& problem = ws.input().problem();
    const std::string file(ws.input().file_name());
    switch (status) {
        case ConversionStatus::premature_end:
            return file + " ends before its data are complete";
        case ConversionStatus::record_error:
            return problem.empty() ? std::string() : file + ": " + problem;
        default:
            return {};
    }
}

std::string failure_message_for(const Workspace& ws, ConversionStatus status, bool writing) {
    std::string msg;
    switch (status) {
        case ConversionStatus::done:
            return {};
        case ConversionStatus::not_available:
            msg = kMsgNotAvailable;
            break;
        case ConversionStatus::premature_end:
            msg = kMsgUnexpectedEnd;
            break;
        case ConversionStatus::record_error:
            if (writing)
                msg = kMsgWriteError;
            else if (ws.record().lines_read == 0 && ws.failure_byte != Workspace::kNoByte)
                msg = std::string(kMsgReadErrorAtByte) + " " + std::to_string(ws.failure_byte);
            else
                msg = std::string(kMsgReadError) + count_field(ws.record().lines_read);
            break;
        case ConversionStatus::too_many_points:
            msg = std::string(kMsgTooManyPoints) + count_field(ws.record().max_points);
            break;
        case ConversionStatus::too_large:
            msg = kMsgTooLarge;
            break;
        case ConversionStatus::uneven_grid:
            msg = kMsgUnevenGrid;
            break;
        case ConversionStatus::aborted:
            return ws.abort_report;
    }
    if (msg.size() < kFailureMessageLength) msg.resize(kFailureMessageLength, ' ');
    return msg;
}

ConversionResult run_conversion(Workspace& ws, FormatId input_format, FormatId output_format,
                                std::span<const FormatInfo> table) {
    auto find = [&](FormatId id) -> const FormatInfo* {
        for (const auto& f : table)
            if (f.id == id) return &f;
        return nullptr;
    };
    ConversionResult result;
    PowderPattern& r = ws.record();
    Interaction& ui = ws.interaction();
    r.max_points = kPointCapacity;
    const FormatInfo* reader = find(input_format);
    if (reader == nullptr) return result;
    result.started = true;

    // Uncertainties of an earlier dataset must not reach this one's output.
    r.sigma.clear();
    r.angles.clear();
    ws.abort_report.clear();
    ws.clear_diagnostics();
    ws.has_sigma = false;
    ws.intensity_shift = 0.0f;
    ws.wavelength_origin = WavelengthOrigin::file;
    ws.asked = {};
    const std::string file(ws.input().file_name());
    result.read_status = reader->codec(ws, CodecMode::read);
    if (const std::size_t line = ws.input().overlong_line(); line > 0) {
        // The reader saw the file end at that line; whatever it made of that,
        // the file was not read.
        r.lines_read = static_cast<int32_t>(std::min<std::size_t>(line, INT32_MAX));
        result.read_status =
            ws.fail(ConversionStatus::record_error,
                    std::string(ws.input().file_name()) + ", line " + std::to_string(line) +
                        " is longer than 1 MB; no scan has such lines");
    }
    // Cancelled in a prompt of the reader: whatever the read made of it, it ends here.
    auto cancel = [&] {
        ws.input().close();
        ws.output().close(/*keep=*/false);
        result.cancelled = true;
        ui.reset_selection();
        return result;
    };
    if (ui.cancelled()) return cancel();
    if (result.read_status == ConversionStatus::done) result.read_status = check_read(ws);
    if (result.read_status != ConversionStatus::done) {
        result.failure_message = failure_message_for(ws, result.read_status, false);
        result.reason = failure_reason_for(ws, result.read_status, false);
        ws.input().close();
        ui.show_failure(result.failure_message, result.reason);
        ui.reset_selection();
        return result;
    }
    ws.input().close();
    if (!ws.output().notice().empty())
        ws.warn(std::string(ws.output().file_name()) + " " + ws.output().notice());
    apply_user_values(ws, file);
    if (ws.options.all_scans && ws.scan.number > 0)
        r.set_title(scan_title(r.title, ws.scan.number, std::max(ws.scan.count, ws.scan.number),
                               kTitleLength));
    const FormatInfo* writer = find(output_format);
    if (writer != nullptr) warn_assumed_wavelengths(ws, *writer, file);
    if (const ConversionStatus st = apply_pattern_options(ws, file); st != ConversionStatus::done) {
        // Asked of this pattern and not possible: reported as a failed read.
        result.read_status = st;
        result.failure_message = failure_message_for(ws, st, false);
        result.reason = failure_reason_for(ws, st, false);
        ui.show_failure(result.failure_message, result.reason);
        ui.reset_selection();
        return result;
    }
    result.warnings = ws.warnings;
    if (!ws.has_sigma) {
        // Read through the const view: writable access would mark the whole
        // array as written, and the next clear would look at all of it.
        const float* s = std::as_const(r.sigma).data();
        ws.has_sigma = std::any_of(s, s + r.point_count, [](float v) { return v != 0.0f; });
    }
    result.has_sigma = ws.has_sigma;

    ui.show_dataset_parameters(r, ws.warnings);
    if (ui.cancelled()) return cancel();
    if (!ws.options.keep_intensities) ws.intensity_shift = raise_low_intensities(r);

    if (writer == nullptr || !(writer->in_output_list || writer->writes)) return result;
    result.write_attempted = true;
    ws.abort_report.clear();
    ws.failure_reason.clear();
    const std::size_t read_warnings = ws.warnings.size();
    result.write_status = check_writer_holds(ws, *writer, file);
    if (result.write_status == ConversionStatus::done)
        result.write_status = writer->codec(ws, CodecMode::write);
    if (ui.cancelled()) return cancel();
    if (result.write_status == ConversionStatus::done) warn_unused_title(ws, file);
    const std::span<const std::string> write_warnings =
        std::span<const std::string>(ws.warnings).subspan(read_warnings);
    result.warnings.insert(result.warnings.end(), write_warnings.begin(), write_warnings.end());
    if (result.write_status == ConversionStatus::done) {
        if (!ws.output().close(/*keep=*/true)) result.write_status = ConversionStatus::record_error;
    } else {
        ws.output().close(/*keep=*/false);
    }
    if (result.write_status == ConversionStatus::done) {
        ui.show_success(r, ws.session(), write_warnings);
    } else {
        result.failure_message = failure_message_for(ws, result.write_status, true);
        result.reason = failure_reason_for(ws, result.write_status, true);
        ui.show_failure(result.failure_message, result.reason);
    }
    ui.reset_selection();
    return result;
}

}  // namespace qelda
