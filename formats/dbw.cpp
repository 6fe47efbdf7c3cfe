// DBW step-scan data: one header record with the angular range and the title,
// then the counts as integers, eight to a record.
//
//   header  (3F8.3,2X,A50)       start, step, end (in that order), title
//   data    (I7,7I8,1X,F8.3)     eight counts and an angle label (written only)
//
// Full records come first; a last record holds the remaining points followed
// by zeros. The file holds no wavelengths (the reader asks for them) and no
// uncertainties.
#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "core/codec_guard.h"
#include "core/point_count.h"
#include "core/prompts.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr int32_t kPerRecord = 8;

// Start, step and end, then the first 50 characters of the title.
const Layout& header_layout() {
    static const Layout kHeader("(3F8.3,2X,A50)");
    return kHeader;
}

ConversionStatus read_dbw(Workspace& ws) {
    // Columns 64 onwards (the writer's angle label) are ignored.
    static const Layout kCounts("(I7,7I8)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();

    const Outcome head = read_record(
        in, header_layout(),
        {r.two_theta_start, r.two_theta_step, r.two_theta_end, TextRef{r.title, kTitleLength}});
    if (head != Outcome::done) {
        if (head == Outcome::error) r.lines_read = 0;
        return read_failure_status(head);
    }
    r.count_time = 0.0f;
    // Keeps the last point where single precision puts the quotient just below
    // a whole number (5 to 100 by 0.05).
    r.point_count = derived_point_count(r.two_theta_start, r.two_theta_end, r.two_theta_step);
    if (r.point_count > std::min(r.max_points, kPointCapacity))
        return ConversionStatus::too_many_points;

    ask_wavelengths(ws);

    // An end below the start leaves no points to read: no loop runs below.
    const int32_t full = r.point_count / kPerRecord;
    const int32_t rest = r.point_count - full * kPerRecord;
    int32_t records = 1;  // the header
    for (int32_t rec = 0; rec < full; ++rec) {
        const std::span<float> counts(r.intensity.data() + rec * kPerRecord, kPerRecord);
        const Outcome outcome = read_record(in, kCounts, {counts});
        if (outcome != Outcome::done) {
            if (outcome == Outcome::error) r.lines_read = records;
            return read_failure_status(outcome);
        }
        ++records;
    }
    if (rest > 0) {
        // The whole record is read; only its first `rest` counts are points.
        std::array<float, kPerRecord> last{};
        const Outcome outcome = read_record(in, kCounts, {std::span<float>(last)});
        if (outcome != Outcome::done) {
            if (outcome == Outcome::error) r.lines_read = records;
            return read_failure_status(outcome);
        }
        std::copy_n(last.begin(), rest, r.intensity.data() + full * kPerRecord);
    }
    return ConversionStatus::done;
}

ConversionStatus write_dbw(Workspace& ws) {
    // The I fields truncate each intensity toward zero; a count that does not
    // fit its field (beyond the int32 range, or not finite, included) shows as
    // an overflow of the unit.
    static const Layout kCounts("(I7,7I8,1X,F8.3)");
    static const Layout kRange("(3F8.3)");
    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    const int32_t n = r.point_count;
    if (n > kPointCapacity) return ConversionStatus::too_large;

    const Values header = {r.two_theta_start, r.two_theta_step, r.two_theta_end, r.title};
    const TextResult line = write_line(header_layout(), header);
    if (line.overflow) return ConversionStatus::too_large;
    if (n > 0) {
        // Three decimals must still give every point when the file is read
        // back; a finer step or an end that does not match the points would
        // silently drop or invent points.
        float start = 0.0f, step = 0.0f, end = 0.0f;
        if (read_text(line.text, kRange, {start, step, end}) != Outcome::done ||
            derived_point_count(start, end, step) != n)
            return ConversionStatus::too_large;
    }
    if (write_record(out, header_layout(), header) != Outcome::done)
        return ConversionStatus::record_error;
    // A negative count (an end below the start) leaves the header alone.
    if (n <= 0) return ConversionStatus::done;

    // Angle label in thousandths of a degree: the first one is the angle of the
    // record's eighth point, the increment eight steps, each truncated on its
    // own, so the labels drift below the true angles. Readers ignore them.
    const double start = r.two_theta_start;
    const double step = r.two_theta_step;
    int64_t label = static_cast<int64_t>(std::trunc((start + 7.0 * step) * 1000.0));
    const auto increment = static_cast<int64_t>(std::trunc(step * 8000.0));

    const int32_t full = n / kPerRecord;
    const int32_t rest = n - full * kPerRecord;
    const float* intensity = r.intensity.data();
    for (int32_t rec = 0; rec < full; ++rec) {
        const std::span<const float> counts(intensity + rec * kPerRecord, kPerRecord);
        if (write_record(out, kCounts, {counts, static_cast<float>(label / 1000.0)}) !=
            Outcome::done)
            return ConversionStatus::record_error;
        label += increment;
    }
    if (rest > 0) {
        std::array<float, kPerRecord> last{};  // zeros after the last point
        std::copy_n(intensity + full * kPerRecord, rest, last.begin());
        if (write_record(out, kCounts,
                         {std::span<const float>(last), static_cast<float>(label / 1000.0)}) !=
            Outcome::done)
            return ConversionStatus::record_error;
    }
    return out.overflowed() ? ConversionStatus::too_large : ConversionStatus::done;
}

}  // namespace

ConversionStatus dbw_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] { return mode == CodecMode::write ? write_dbw(ws) : read_dbw(ws); });
}

}  // namespace qelda
