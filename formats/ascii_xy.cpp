// ASCII x-y: one line per point holding 2-theta, the intensity and optionally
// sigma(I). The file has no header of known shape, so the reader asks how many
// header lines to skip and whether a third column holds sigma(I), and asks for
// the wavelengths. Only the first and the last angle are kept; the step is
// derived from them.
//
// Reading takes the values of a data line as numbers separated by commas,
// blanks or tabs, over the whole line: nearly every x-y file in the wild is
// blank- or tab-separated, and our own comma-separated lines read the same
// either way. Blank lines are skipped, a file of fewer than ten points is read,
// and the point limit is kept. The step is rounded to four decimals only where
// that keeps the last angle.
//
// Writing gives "  x.xxx,  yyyy.yyy" (2X,F7.3,',',F10.3), with ",  ssss.sss"
// appended when sigma(I) is asked for. A value too wide for its field is
// written as wide as it needs instead of asterisks: every reader of x-y files
// reads them free-format, so nothing is lost.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "core/prompts.h"
#include "core/record_io.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

// A data line among the first ten that is not made of numbers stops the read
// with the input conversion error report (a wrong count of header lines shows
// there); a later one ends it with a read error that names the line before it.
constexpr int32_t kCheckedLeadingPoints = 10;

enum class LineKind { values, blank, bad };

bool is_gap(char c) noexcept {
    return c == ' ' || c == '\t';
}

// Reads the first `count` values of a data line into `out`. Blanks and tabs
// separate values, and so does one comma together with the blanks around it; a
// comma with no value before it stands for an empty value, which is 0, as are
// values missing at the end of the line. Values after the first `count` are
// not looked at. A value follows the input rules of F15.0 (a point is
// optional, an exponent may be given with E or D).
LineKind read_values(std::string_view line, float* out, int count) noexcept {
    const std::size_t n = line.size();
    std::size_t pos = 0;
    auto skip_gaps = [&] {
        while (pos < n && is_gap(line[pos])) ++pos;
    };
    skip_gaps();
    if (pos == n) return LineKind::blank;
    std::fill(out, out + count, 0.0f);
    for (int k = 0; k < count; ++k) {
        skip_gaps();
        if (pos == n) break;
        if (line[pos] == ',') {  // an empty value
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        while (pos < n && !is_gap(line[pos]) && line[pos] != ',') ++pos;
        double value = 0.0;
        if (parse_real_field(line.substr(start, pos - start), 0, value) != FieldError::none ||
            !std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
            return LineKind::bad;
        out[k] = static_cast<float>(value);
        skip_gaps();
        if (pos < n && line[pos] == ',') ++pos;
    }
    return LineKind::values;
}

// The step between `points` points from `start` to `end`; 0 for a single
// point. It is rounded to four decimals (halves away from zero), which clears
// the noise of angles printed with few decimals (0.019999 becomes 0.02), but
// only while the rounded step still reaches the last angle to within half a
// unit of its third decimal: instruments step by 0.016455 or 0.00252 as well,
// and rounding those would move the last points of a long scan by a tenth of a
// degree or more.
float derived_step(float start, float end, int32_t points) noexcept {
    if (points < 2) return 0.0f;
    const double span = static_cast<double>(end) - static_cast<double>(start);
    const double intervals = points - 1;
    const double rounded = std::round(10000.0 * span / intervals) / 10000.0;
    const double step =
        std::fabs(rounded * intervals - span) <= 0.0005 ? rounded : span / intervals;
    constexpr double kMax = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(step, -kMax, kMax));
}

ConversionStatus read_xy(Workspace& ws) {
    static const Layout kTitle("(A60)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();

    // The first line is offered as the title; an empty file holds no data line.
    std::string title;
    if (read_record(in, kTitle, {TextRef{title, kTitleLength}}) != Outcome::done) {
        r.lines_read = 0;
        return ConversionStatus::premature_end;
    }
    r.set_title(title);
    const XyInputChoice choice = ask_xy_input(ws);

    // The title line counts among the header lines: with none, it is the first
    // data line.
    in.backspace();
    int32_t lines = 0;
    std::string_view line;
    for (int32_t k = 0; k < choice.header_lines; ++k) {
        if (!in.next_line(line)) {
            r.lines_read = lines;
            return ConversionStatus::premature_end;
        }
        ++lines;
    }

    ask_wavelengths(ws);

    const int count = choice.read_sigma ? 3 : 2;
    const int32_t limit = std::min(r.max_points, kPointCapacity);
    int32_t points = 0;
    float last_angle = 0.0f;
    while (in.next_line(line)) {
        float values[3] = {0.0f, 0.0f, 0.0f};
        const LineKind kind = read_values(line, values, count);
        if (kind == LineKind::bad) {
            r.lines_read = lines;
            if (points < kCheckedLeadingPoints)
                throw IoAbort{conversion_error_report(InputUnit::kNumber, in.file_name())};
            return ConversionStatus::record_error;
        }
        if (kind == LineKind::blank) {
            ++lines;
            continue;
        }
        if (points >= limit) {
            r.lines_read = lines;
            return ConversionStatus::too_many_points;
        }
        ++lines;
        ++points;
        if (points == 1) r.two_theta_start = values[0];
        last_angle = values[0];
        r.intensity(points) = values[1];
        if (choice.read_sigma) r.sigma(points) = values[2];
        r.point_count = points;
    }
    r.lines_read = lines;
    if (points == 0) return ConversionStatus::premature_end;
    r.two_theta_end = last_angle;
    r.two_theta_step = derived_step(r.two_theta_start, last_angle, points);
    return ConversionStatus::done;
}

// Writes `value` as Fw.3 at `p`, or wider when it does not fit; returns the end
// of the field, or nullptr when the value is not a number at all. `p` has room
// for kFieldRoom characters.
constexpr std::size_t kFieldRoom = kRealFieldRoom;

[[gnu::noinline]] char* put_value_general(char* p, double value, int32_t width) {
    if (!std::isfinite(value)) return nullptr;
    // The values are floats, whose digits fit the room.
    std::string digits;
    if (!append_real_field(digits, value, width, 3)) digits = fixed_digits(value, 3);
    digits.resize(std::min(digits.size(), kFieldRoom));
    std::memcpy(p, digits.data(), digits.size());
    return p + digits.size();
}

inline char* put_value(char* p, double value, int32_t width) {
    if (char* end = format_real_field(p, value, width, 3, true)) return end;
    return put_value_general(p, value, width);
}

ConversionStatus write_xy(Workspace& ws) {
    static const Layout kTitle("(A60)");
    const AsciiOutputChoice choice = ask_ascii_output(ws);
    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    if (choice.write_title && write_record(out, kTitle, {r.title}) != Outcome::done)
        return ConversionStatus::record_error;

    // The lines are formatted straight into a block that goes to the unit whole.
    constexpr std::size_t kBlock = std::size_t{1} << 15;
    constexpr std::size_t kLineRoom = 2 + 3 * (1 + kFieldRoom) + 2;
    std::string block(kBlock + kLineRoom, ' ');
    char* const begin = block.data();
    char* p = begin;
    auto flush = [&] {
        out.append_bytes(std::string_view(begin, static_cast<std::size_t>(p - begin)));
        p = begin;
    };

    const int32_t n = std::min(r.point_count, kPointCapacity);
    const double start = r.two_theta_start;
    const double step = r.two_theta_step;
    constexpr double kMax = std::numeric_limits<float>::max();
    const float* const intensity = r.intensity.data();
    const float* const sigma = r.sigma.data();
    for (int32_t i = 0; i < n; ++i) {
        const double angle = start + static_cast<double>(i) * step;
        if (!(std::fabs(angle) <= kMax)) return flush(), ConversionStatus::too_large;
        const float x = static_cast<float>(angle);
        const float y = intensity[i];
        p[0] = ' ';
        p[1] = ' ';
        char* q = put_value(p + 2, x, 7);
        if (q != nullptr) {
            *q++ = ',';
            q = put_value(q, y, 10);
        }
        if (q != nullptr && choice.write_sigma) {
            const float s = sigma[i] >= 0.001f ? sigma[i] : y > 0.0f ? std::sqrt(y) : 1.0f;
            *q++ = ',';
            q = put_value(q, s, 10);
        }
        if (q == nullptr) return flush(), ConversionStatus::too_large;
        q[0] = '\r';
        q[1] = '\n';
        p = q + 2;
        if (static_cast<std::size_t>(p - begin) >= kBlock) flush();
    }
    flush();
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus ascii_xy_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] { return mode == CodecMode::write ? write_xy(ws) : read_xy(ws); });
}

}  // namespace qelda
