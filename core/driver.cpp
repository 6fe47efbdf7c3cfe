#include "core/driver.h"

#include "core/display_texts.h"
#include "formats/registry.h"

namespace qelda {

void raise_low_intensities(PowderPattern& record) noexcept {
    const int32_t n = std::min(record.point_count, kPointCapacity);
    if (n < 1) return;
    float* v = record.intensity.data();
    bool low = false;
    for (int32_t i = 0; i < n; ++i) low = low || v[i] < 0.001f;
    if (!low) return;
    for (int32_t i = 0; i < n; ++i) v[i] += 0.001f;
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
            else
                msg = std::string(kMsgReadError) + count_field(ws.record().lines_read);
            break;
        case ConversionStatus::too_many_points:
            msg = std::string(kMsgTooManyPoints) + count_field(ws.record().max_points);
            break;
        case ConversionStatus::too_large:
            msg = kMsgTooLarge;
            break;
        case ConversionStatus::aborted:
            return ws.abort_report;
    }
    if (msg.size() < kFailureMessageLength) msg.resize(kFailureMessageLength, ' ');
    return msg;
}

ConversionResult run_conversion(Workspace& ws, FormatId input_format, FormatId output_format) {
    return run_conversion(ws, input_format, output_format, formats());
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
    ws.abort_report.clear();
    result.read_status = reader->codec(ws, CodecMode::read);
    ws.input().close();
    if (result.read_status != ConversionStatus::done) {
        result.failure_message = failure_message_for(ws, result.read_status, false);
        ui.show_failure(result.failure_message);
        ui.reset_selection();
        return result;
    }

    ui.show_dataset_parameters(r);
    raise_low_intensities(r);

    const FormatInfo* writer = find(output_format);
    if (writer == nullptr || !writer->in_output_list) return result;
    result.write_attempted = true;
    ws.abort_report.clear();
    result.write_status = writer->codec(ws, CodecMode::write);
    if (result.write_status == ConversionStatus::done) {
        if (!ws.output().close(/*keep=*/true)) result.write_status = ConversionStatus::record_error;
    } else {
        ws.output().close(/*keep=*/false);
    }
    if (result.write_status == ConversionStatus::done) {
        ui.show_success(r, ws.session());
    } else {
        result.failure_message = failure_message_for(ws, result.write_status, true);
        ui.show_failure(result.failure_message);
    }
    ui.reset_selection();
    return result;
}

}  // namespace qelda
