// Scintag ARD: a seven-line header, then one line per point holding the count
// rate (counts per minute) and its uncertainty. Read only.
//
//   line 1   (A30)                          title
//   line 2   (3F12.7,F12.8,12X,F12.8)       start, end, step, count time, lambda1
//   line 3   skipped
//   line 4   (3I4)                          date, three numbers as written
//   line 5   (3I4)                          time: hour, minute, (ignored)
//   line 6-7 skipped
//   line 8-  (10X,2F8.0)                    rate and uncertainty per minute
//
// The title keeps 30 columns of line 1 and gets the date in columns 31-44 and
// the time in columns 45-57. The point count comes from start, end and step,
// and the file must hold that many points: fewer is refused, lines of points
// after them are ignored with a warning. A file whose second line does not
// hold start, end and step, each alone in its 12 columns, or whose date and
// time lines are not numbers, is not an ARD file.
#include <algorithm>
#include <cmath>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "core/point_count.h"
#include "formats/codecs.h"
#include "formats/read_reason.h"

namespace qelda {
namespace {

// The copper K-alpha1 line that the file names, and the alpha2 line put with it.
constexpr float kCopperAlpha1 = 1.5406f;
constexpr float kCopperAlpha2 = 1.54434f;
constexpr float kCopperRatio = 0.5f;

// Columns 1-36 of the scan line: three 12-column fields, each one number.
bool is_scan_line(std::string_view line) {
    for (std::size_t f = 0; f < 3; ++f) {
        if (line.size() < 12 * f + 1) return false;
        std::string_view field = line.substr(12 * f, 12);
        const auto first = field.find_first_not_of(" \t");
        if (first == std::string_view::npos) return false;
        field = field.substr(first, field.find_last_not_of(" \t") + 1 - first);
        double v = 0.0;
        if (field.find_first_of(" \t") != std::string_view::npos ||
            parse_real_field(field, 7, v) != FieldError::none)
            return false;
    }
    return true;
}

std::string number_text(float v) {
    std::string out = fixed_digits(v, 4);
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

ConversionStatus read_ard(Workspace& ws) {
    static const Layout kTitle("(A30)");
    static const Layout kScan("(3F12.7,F12.8,12X,F12.8)");
    static const Layout kSkip("(1X)");
    static const Layout kThree("(3I4)");
    static const Layout kDate("(' Date:',I2,'-',I2,'-',I2)");
    static const Layout kTime("('  Time: ',I2,':',I2)");
    static const Layout kPoint("(10X,2F8.0)");

    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    // Lines read completely, so that a read error names the line after them.
    r.lines_read = 0;
    Outcome o = Outcome::done;
    auto read = [&](const Layout& layout, Targets targets) {
        o = read_record(in, layout, targets);
        if (o == Outcome::done) ++r.lines_read;
        return o == Outcome::done;
    };

    const std::string file(in.file_name());
    auto not_ard = [&](int32_t line, const std::string& what) {
        return ws.fail(
            ConversionStatus::not_available,
            file + ", line " + std::to_string(line) + ": " + what + ": not a Scintag ARD file");
    };
    if (!read(kTitle, {TextRef{r.title, kTitleLength}})) {
        if (o == Outcome::end_of_file)
            return ws.fail(ConversionStatus::premature_end, file + " is empty");
        return read_failure_status(o);
    }
    {
        std::string_view scan;
        if (in.next_line(scan)) {
            const bool ok = is_scan_line(scan);
            in.backspace();
            if (!ok) return not_ard(2, "columns 1-36 do not hold start, end and step");
        }
    }
    if (!read(kScan,
              {r.two_theta_start, r.two_theta_end, r.two_theta_step, r.count_time, r.lambda1})) {
        if (o == Outcome::error)
            return not_ard(2, in.problem() + " where the count time and wavelength are expected");
        return read_failure_status(o);
    }
    // The file names one wavelength. Copper gets its alpha2 line; any other
    // anode is taken as a single line rather than keeping the alpha2 line of
    // whatever dataset was read before.
    if (std::fabs(r.lambda1 - kCopperAlpha1) < 0.01f) {
        r.lambda2 = kCopperAlpha2;
        r.alpha_ratio = kCopperRatio;
    } else {
        r.lambda2 = 0.0f;
        r.alpha_ratio = 0.0f;
    }
    if (!read(kSkip, {})) return read_failure_status(o);

    int32_t d1 = 0, d2 = 0, d3 = 0;
    if (!read(kThree, {d1, d2, d3})) {
        if (o == Outcome::error) return not_ard(4, in.problem() + " where the date is expected");
        return read_failure_status(o);
    }
    std::string date = write_text(kTitleLength, kDate, {d1, d2, d3}).text;
    for (std::size_t col : {6u, 9u, 12u})  // the first digit of each number
        if (date[col] == ' ') date[col] = '0';
    r.title.replace(30, 14, date, 0, 14);

    int32_t hour = 0, minute = 0, unused = 0;
    if (!read(kThree, {hour, minute, unused})) {
        if (o == Outcome::error) return not_ard(5, in.problem() + " where the time is expected");
        return read_failure_status(o);
    }
    const std::string time = write_text(kTitleLength, kTime, {hour, minute}).text;
    r.title.replace(44, 13, time, 0, 13);

    if (!read(kSkip, {}) || !read(kSkip, {})) return read_failure_status(o);

    r.point_count = derived_point_count(r.two_theta_start, r.two_theta_end, r.two_theta_step);
    if (r.point_count > std::min(r.max_points, kPointCapacity))
        return ConversionStatus::too_many_points;
    const std::string range = number_text(r.two_theta_start) + " to " +
                              number_text(r.two_theta_end) + " by " + number_text(r.two_theta_step);
    if (r.point_count < 1) {
        // No usable angle range: the fault lies in line 2.
        r.lines_read = 1;
        return ws.fail(ConversionStatus::record_error,
                       file + ", line 2: the range " + range + " gives no points");
    }

    // The file holds counts per minute; the record holds counts per step.
    std::string_view line;
    for (int32_t i = 1; i <= r.point_count; ++i) {
        // A point line without a rate would read as 0.
        const bool more = in.next_line(line);
        if (more) in.backspace();
        if (!more || line.size() < 11 ||
            line.substr(10, 8).find_first_not_of(" \t") == std::string_view::npos) {
            const std::string of_range = " of the " + std::to_string(r.point_count) +
                                         " that the range " + range + " announces";
            if (!more)
                return ws.fail(ConversionStatus::premature_end,
                               file + " ends after point " + std::to_string(i - 1) + of_range);
            r.lines_read += 1;
            return ws.fail(ConversionStatus::record_error,
                           file + ", line " + std::to_string(r.lines_read) +
                               ": no count rate in columns 11-18 for point " + std::to_string(i) +
                               of_range);
        }
        float rate = 0.0f, uncertainty = 0.0f;
        if (!read(kPoint, {rate, uncertainty})) return read_failure_status(o);
        r.intensity(i) = rate * r.count_time / 60.0f;
        r.sigma(i) = uncertainty * r.count_time / 60.0f;
    }
    int32_t more = 0;
    while (in.next_line(line))
        if (line.size() > 10 &&
            line.substr(10, 8).find_first_not_of(" \t") != std::string_view::npos)
            ++more;
    if (more > 0)
        ws.warn(file + " holds " + std::to_string(more) + " more points after the " +
                std::to_string(r.point_count) + " that the range " + range + " announces; ignored");
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus scintag_ard_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available
                                        : with_line_reason(ws, read_ard(ws));
    });
}

}  // namespace qelda
