// ASCII x-y: one line per point holding 2-theta, the intensity and optionally
// sigma(I). The file has no header of known shape, so the reader asks how many
// header lines to skip (offering the number it detects: the leading lines that
// are not data rows) and whether a third column holds sigma(I), and asks for
// the wavelengths. The record keeps the first angle and a step derived from the
// first and the last; every angle of the file is checked against that even
// grid, and a file whose angles leave it is refused rather than moved onto it.
//
// Reading takes the values of a data line as numbers separated by commas,
// blanks or tabs, over the whole line: nearly every x-y file in the wild is
// blank- or tab-separated, and our own comma-separated lines read the same
// either way. Blank lines and lines beginning with "#" are skipped, a file of
// fewer than ten points is read, and the point limit is kept. A line with a
// value that is not a number, or with fewer values than asked for, is refused
// naming the line. The step is rounded to four decimals only where that keeps
// the last angle.
//
// Writing gives "  x.xxx,  yyyy.yyy" (2X,F7.3,',',F10.3), with ",  ssss.sss"
// appended when sigma(I) is asked for. A value too wide for its field is
// written as wide as it needs instead of asterisks: every reader of x-y files
// reads them free-format, so nothing is lost.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/even_grid.h"
#include "core/fields.h"
#include "core/prompts.h"
#include "core/record_io.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

bool is_gap(char c) noexcept {
    return c == ' ' || c == '\t';
}

// The values of a line, as texts. Blanks and tabs separate values, and so does
// one comma together with the blanks around it; a comma with no value before
// it stands for an empty value (read as 0).
struct Tokens {
    static constexpr int kMax = 4;
    std::string_view text[kMax];
    int count = 0;  // values on the line, counted up to kMax
    bool comment = false;
};

Tokens split_values(std::string_view line) noexcept {
    Tokens t;
    const std::size_t n = line.size();
    std::size_t pos = 0;
    auto skip_gaps = [&] {
        while (pos < n && is_gap(line[pos])) ++pos;
    };
    skip_gaps();
    if (pos < n && line[pos] == '#') {
        t.comment = true;
        return t;
    }
    while (t.count < Tokens::kMax) {
        skip_gaps();
        if (pos == n) break;
        if (line[pos] == ',') {  // an empty value
            t.text[t.count++] = {};
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        while (pos < n && !is_gap(line[pos]) && line[pos] != ',') ++pos;
        t.text[t.count++] = line.substr(start, pos - start);
        skip_gaps();
        if (pos < n && line[pos] == ',') ++pos;
    }
    return t;
}

// A value under the input rules of F15.0 (a point is optional, an exponent may
// be given with E or D); an empty value is 0.
bool parse_value(std::string_view text, double& value) noexcept {
    value = 0.0;
    if (text.empty()) return true;
    return parse_real_field(text, 0, value) == FieldError::none && std::isfinite(value) &&
           std::fabs(value) <= std::numeric_limits<float>::max();
}

// How many values a line holds when all of them are numbers, else 0.
int numeric_columns(const Tokens& t) noexcept {
    double v = 0.0;
    for (int k = 0; k < t.count; ++k)
        if (t.text[k].empty() || !parse_value(t.text[k], v)) return 0;
    return t.count;
}

// The header lines: the leading lines before the first run of data rows, that
// is of lines holding two or more numbers and nothing else, all with the same
// number of values (five in a row, or up to the end of a short file). Blank and
// "#" lines neither start nor break a run. A lone wavelength, "!" or "'"
// lines, column titles and our own title line are header lines. The unit is
// left where it was.
int32_t detect_header_lines(InputUnit& in) {
    constexpr int32_t kRun = 5;
    constexpr int32_t kLooked = 2000;  // lines looked at, at most
    const std::size_t origin = in.position();
    int32_t candidate = -1;  // 0-based line where the current run began
    int columns = 0;
    int32_t run = 0;
    int32_t line_no = 0;
    std::string_view line;
    while (run < kRun && line_no < kLooked && in.next_line(line)) {
        const Tokens t = split_values(line);
        ++line_no;
        if (t.comment || t.count == 0) continue;
        const int k = numeric_columns(t);
        if (k >= 2 && k == columns && candidate >= 0) {
            ++run;
        } else if (k >= 2) {
            candidate = line_no - 1;
            columns = k;
            run = 1;
        } else {
            candidate = -1;
            columns = 0;
            run = 0;
        }
    }
    in.set_position(origin);
    return candidate < 0 ? 0 : candidate;
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

std::string where(const InputUnit& in, int32_t line) {
    return std::string(in.file_name()) + ", line " + std::to_string(line);
}

// An x-y file does not say how many points it holds, so a file cut inside
// its last line reads as a shorter scan. What can be seen is said: a last
// data line without a line end, or with another number of values than every
// line before it. (Line widths are never compared: ours differ.)
class CutCheck {
  public:
    void data_line(int fields, int32_t line) noexcept {
        if (lines_ > 0) {
            if (body_fields_ < 0)
                body_fields_ = last_fields_;
            else if (last_fields_ != body_fields_)
                uniform_ = false;
        }
        last_fields_ = fields;
        last_line_ = line;
        ++lines_;
    }
    void warn_if_cut(Workspace& ws, int32_t lines_in_file) {
        if (lines_ == 0) return;
        const std::string at = std::string(ws.input().file_name()) + ", line " +
                               std::to_string(last_line_) + " (the last data line)";
        if (last_line_ == lines_in_file && !ws.input().ends_with_line_end())
            ws.warn(at +
                    " has no line end: the file may have been cut there, and its last "
                    "value with it");
        else if (uniform_ && body_fields_ >= 0 && last_fields_ != body_fields_)
            ws.warn(at + " holds " + std::to_string(last_fields_) +
                    " values where the lines "
                    "before it hold " +
                    std::to_string(body_fields_) + ": the file may have been cut there");
    }

  private:
    int body_fields_ = -1;  // of the data lines before the last
    int last_fields_ = 0;
    int32_t last_line_ = 0;
    int32_t lines_ = 0;
    bool uniform_ = true;
};

ConversionStatus read_xy(Workspace& ws) {
    static const Layout kTitle("(A60)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();

    const int32_t detected = detect_header_lines(in);
    // The first line is offered as the title; an empty file holds no data line.
    std::string title;
    if (read_record(in, kTitle, {TextRef{title, kTitleLength}}) != Outcome::done) {
        r.lines_read = 0;
        return ws.fail(ConversionStatus::premature_end, std::string(in.file_name()) + " is empty");
    }
    r.set_title(title);
    const XyInputChoice choice = ask_xy_input(ws, detected);

    // The title line counts among the header lines: with none, it is the first
    // data line.
    in.backspace();
    int32_t lines = 0;
    std::string_view line;
    for (int32_t k = 0; k < choice.header_lines; ++k) {
        if (!in.next_line(line)) {
            r.lines_read = lines;
            return ws.fail(ConversionStatus::premature_end,
                           std::string(in.file_name()) + " ends within its " +
                               std::to_string(choice.header_lines) + " header lines");
        }
        ++lines;
    }

    ask_wavelengths(ws);

    const int count = choice.read_sigma ? 3 : 2;
    const int32_t limit = std::min(r.max_points, kPointCapacity);
    // Every angle as printed, for the grid check, and the line it stands on.
    std::vector<double> angles;
    std::vector<int8_t> decimals;
    std::vector<int32_t> line_of;
    CutCheck cut;
    while (in.next_line(line)) {
        ++lines;
        const Tokens t = split_values(line);
        if (t.comment || t.count == 0) continue;
        cut.data_line(t.count, lines);
        double values[3] = {0.0, 0.0, 0.0};
        for (int k = 0; k < std::min(count, t.count); ++k) {
            if (!parse_value(t.text[k], values[k])) {
                r.lines_read = lines;
                return ws.fail(ConversionStatus::record_error,
                               where(in, lines) + ": '" + std::string(t.text[k].substr(0, 40)) +
                                   "' is not a number (column " + std::to_string(k + 1) + ")");
            }
        }
        if (t.count < count) {
            r.lines_read = lines;
            return ws.fail(
                ConversionStatus::record_error,
                where(in, lines) + ": " + std::to_string(t.count) +
                    (t.count == 1 ? " value" : " values") + " where " + std::to_string(count) +
                    (count == 3 ? " (2theta, intensity, sigma)" : " (2theta, intensity)") +
                    " are expected");
        }
        const auto points = static_cast<int32_t>(angles.size());
        if (points >= limit) {
            r.lines_read = lines;
            r.point_count = points;
            return ConversionStatus::too_many_points;
        }
        const int32_t i = points + 1;
        r.intensity(i) = static_cast<float>(values[1]);
        if (choice.read_sigma) r.sigma(i) = static_cast<float>(values[2]);
        angles.push_back(values[0]);
        decimals.push_back(static_cast<int8_t>(std::min(printed_decimals(t.text[0]), 100)));
        line_of.push_back(lines);
    }
    r.lines_read = lines;
    cut.warn_if_cut(ws, lines);
    const auto points = static_cast<int32_t>(angles.size());
    r.point_count = points;
    if (points == 0)
        return ws.fail(ConversionStatus::premature_end,
                       std::string(in.file_name()) + " holds no data line after its " +
                           std::to_string(choice.header_lines) + " header lines");
    r.two_theta_start = static_cast<float>(angles.front());
    r.two_theta_end = static_cast<float>(angles.back());
    r.two_theta_step = derived_step(r.two_theta_start, r.two_theta_end, points);
    if (points > 1) {
        const double start = r.two_theta_start;
        const double step = r.two_theta_step;
        if (const auto miss = first_off_grid(angles, decimals, start, step)) {
            r.lines_read = line_of[miss->index];
            return ws.fail(ConversionStatus::record_error,
                           off_grid_reason(where(in, line_of[miss->index]), angles[miss->index],
                                           miss->off, start, step));
        }
    }
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
