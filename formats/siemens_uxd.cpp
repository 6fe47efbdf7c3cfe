// Siemens UXD: keyword lines ("_START=10.000"), then a marker line and the data.
//
// The reader is keyword driven: a line that starts with one of the keys below
// sets its field, ";" lines are comments, and every other line is skipped. The
// header ends at "_COUNTS" (counts, several to a line) or at "_2THETACOUNTS" /
// "_2THETACPS" (one angle and one intensity to a row). The writer emits a fixed
// header, "_COUNTS" and the counts eight to a line in 8-column fields. Its
// "_FILEVERSION" and "_DRIVE" lines are what other UXD readers look for first.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

bool is_blank(char c) noexcept {
    return c == ' ' || c == '\t';
}

std::string_view skip_blanks(std::string_view s) noexcept {
    std::size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    return s.substr(i);
}

std::string_view trim_blanks_right(std::string_view s) noexcept {
    std::size_t n = s.size();
    while (n > 0 && is_blank(s[n - 1])) --n;
    return s.substr(0, n);
}

// A count or an angle: any real number a float can hold.
bool parse_number(std::string_view text, double& value) noexcept {
    if (parse_real_field(text, 0, value) != FieldError::none) return false;
    return std::isfinite(value) && std::fabs(value) <= FLT_MAX;
}

// --- Data lines -----------------------------------------------------------------

enum class LineKind {
    empty,        // nothing but blanks (or separators)
    numbers,      // every value on it is a number
    not_numbers,  // its first value is not a number: a comment, a keyword, text
    bad,          // it starts with numbers and then holds something else
};

// True when the line is a row of right-justified 8-column fields, as this
// writer (and the 8I8 form of other programs) writes it: its length is a
// multiple of 8 and every field is blanks followed by one unbroken run that
// ends in the field's last column. Such fields may touch ("1234567812345678"),
// so they must be cut by columns; every other line is read by separators.
bool is_eight_column_line(std::string_view line) noexcept {
    if (line.empty() || line.size() % 8 != 0) return false;
    // One pass: every field is blanks, then one run of other characters that
    // ends in its last column; no tab or comma anywhere.
    for (std::size_t at = 0; at < line.size(); at += 8) {
        bool in_run = false;
        for (std::size_t k = at; k < at + 8; ++k) {
            const char c = line[k];
            if (c == '\t' || c == ',') return false;
            if (c == ' ') {
                if (in_run) return false;
            } else {
                in_run = true;
            }
        }
        if (!in_run) return false;
    }
    return true;
}

// Hands every value of a data line to `sink`, in order. Values stand in
// 8-column fields (see above) or are separated by blanks, tabs or commas.
template <class Sink>
LineKind scan_numbers(std::string_view line, Sink&& sink) {
    line = trim_blanks_right(line);
    bool any = false;
    auto take = [&](std::string_view text) {
        double v = 0.0;
        if (!parse_number(text, v)) return false;
        any = true;
        sink(v);
        return true;
    };
    if (is_eight_column_line(line)) {
        for (std::size_t at = 0; at < line.size(); at += 8)
            if (!take(line.substr(at, 8))) return any ? LineKind::bad : LineKind::not_numbers;
        return LineKind::numbers;
    }
    auto separator = [](char c) { return is_blank(c) || c == ','; };
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && separator(line[i])) ++i;
        if (i == line.size()) break;
        std::size_t end = i;
        while (end < line.size() && !separator(line[end])) ++end;
        if (!take(line.substr(i, end - i))) return any ? LineKind::bad : LineKind::not_numbers;
        i = end;
    }
    return any ? LineKind::numbers : LineKind::empty;
}

// --- Keywords -------------------------------------------------------------------

enum class Key { step, start, step_count, step_time, wl1, wl2, wl_ratio };

struct NumericKey {
    std::string_view name;
    Key key;
    int32_t decimals;  // implied decimals of a value written without a point
};

// Test order: the first key that starts the line wins ("_STARTTIME" is "_START").
constexpr NumericKey kNumericKeys[] = {
    {"_STEPSIZE", Key::step, 5},      {"_START", Key::start, 3}, {"_STEPCOUNT", Key::step_count, 0},
    {"_STEPTIME", Key::step_time, 1}, {"_WL1", Key::wl1, 5},     {"_WL2", Key::wl2, 5},
    {"_WLRATIO", Key::wl_ratio, 5},
};

// "_SAMPLE=" or "_SAMPLE = " (not "_SAMPLE_CHANGER_CODE="): the text after "=".
bool sample_value(std::string_view body, std::string_view& rest) noexcept {
    constexpr std::string_view kSample = "_SAMPLE";
    if (!body.starts_with(kSample)) return false;
    const std::string_view after = skip_blanks(body.substr(kSample.size()));
    if (after.empty() || after[0] != '=') return false;
    rest = after.substr(1);
    return true;
}

// The title between the quotes ("'Quartz'" gives Quartz; the closing quote is
// the last one on the line, so quotes inside the title survive), or the text
// itself when it is not quoted.
std::string_view title_text(std::string_view rest) noexcept {
    rest = trim_blanks_right(skip_blanks(rest));
    if (rest.empty() || (rest[0] != '\'' && rest[0] != '"')) return rest;
    const char quote = rest[0];
    rest.remove_prefix(1);
    const std::size_t close = rest.rfind(quote);
    return close == std::string_view::npos ? rest : rest.substr(0, close);
}

// Stores the number after the first "=" of a keyword line: the whole number,
// with the key's implied decimals. A value that is not a number is a failed
// statement without outcomes.
void store_keyword_value(Workspace& ws, const NumericKey& key, std::string_view body) {
    PowderPattern& r = ws.record();
    const auto fail = [&] { throw IoAbort{conversion_error_report(1, ws.input().file_name())}; };
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) fail();
    std::string_view value = skip_blanks(body.substr(eq + 1));
    std::size_t end = 0;
    while (end < value.size() && !is_blank(value[end])) ++end;
    value = value.substr(0, end);
    if (key.key == Key::step_count) {
        int64_t n = 0;
        if (parse_integer_field(value, n) != FieldError::none || n < INT32_MIN || n > INT32_MAX)
            fail();
        r.point_count = static_cast<int32_t>(n);
        return;
    }
    double v = 0.0;
    if (parse_real_field(value, key.decimals, v) != FieldError::none || !std::isfinite(v) ||
        std::fabs(v) > FLT_MAX)
        fail();
    const auto f = static_cast<float>(v);
    switch (key.key) {
        case Key::step:
            r.two_theta_step = f;
            break;
        case Key::start:
            r.two_theta_start = f;
            break;
        case Key::step_time:
            r.count_time = f;
            break;
        case Key::wl1:
            r.lambda1 = f;
            break;
        case Key::wl2:
            r.lambda2 = f;
            break;
        case Key::wl_ratio:
            r.alpha_ratio = f;
            break;
        default:
            break;
    }
}

// --- Reading ----------------------------------------------------------------------

enum class DataForm { counts, rows };

// The counts after "_COUNTS": exactly `point_count` of them when the header
// gave more than one, otherwise every count up to the first line that is not
// numbers (a comment, the next range's keywords, the end of the file).
ConversionStatus read_counts(Workspace& ws) {
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    const int32_t limit = std::clamp(r.max_points, 0, kPointCapacity);
    std::string_view line;
    int32_t got = 0;
    if (r.point_count > 1) {
        if (r.point_count > limit) return ConversionStatus::too_many_points;
        const int32_t n = r.point_count;
        while (got < n) {
            if (!in.next_line(line)) return ConversionStatus::premature_end;
            const LineKind kind = scan_numbers(line, [&](double v) {
                if (got < n) r.intensity(++got) = static_cast<float>(v);
            });
            if (kind == LineKind::not_numbers || kind == LineKind::bad)
                return ConversionStatus::record_error;
            ++r.lines_read;
        }
    } else {
        bool over = false;
        while (in.next_line(line)) {
            const LineKind kind = scan_numbers(line, [&](double v) {
                if (got < limit)
                    r.intensity(++got) = static_cast<float>(v);
                else
                    over = true;
            });
            r.point_count = got;
            if (kind == LineKind::not_numbers) break;
            if (kind == LineKind::bad) return ConversionStatus::record_error;
            if (over) return ConversionStatus::too_many_points;
            ++r.lines_read;
        }
        r.point_count = got;
    }
    r.two_theta_end = static_cast<float>(r.point_count - 1) * r.two_theta_step + r.two_theta_start;
    return ConversionStatus::done;
}

// One angle-intensity row: false when it holds fewer than two values.
struct Row {
    double x = 0.0;
    double y = 0.0;
    int32_t values = 0;
};

LineKind scan_row(std::string_view line, Row& row) {
    row = Row{};
    return scan_numbers(line, [&](double v) {
        if (row.values == 0) row.x = v;
        if (row.values == 1) row.y = v;
        ++row.values;
    });
}

// The step between the first and the last angle: rounded to 0.0001 as the x-y
// reader does when that holds it to 1e-6, else to 0.000001, so that fine steps
// do not drift.
double derived_step(double first, double last, int32_t n) noexcept {
    const double q = (last - first) / static_cast<double>(n - 1);
    const double coarse = std::round(q * 1e4) / 1e4;
    return std::fabs(coarse - q) <= 1e-6 ? coarse : std::round(q * 1e6) / 1e6;
}

// Rows of angle, intensity (and perhaps more) after "_2THETACOUNTS" or
// "_2THETACPS": start = the first angle, end = the last, the step derived.
// Angles that do not lie on one even grid cannot be held by the record.
ConversionStatus read_rows(Workspace& ws) {
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    const int32_t limit = std::clamp(r.max_points, 0, kPointCapacity);
    std::string_view line;
    std::size_t first_row = in.position();
    int32_t got = 0;
    double first_x = 0.0, last_x = 0.0;
    Row row;
    while (true) {
        const std::size_t at = in.position();
        if (!in.next_line(line)) break;
        const std::string_view body = skip_blanks(line);
        if (got == 0 && !body.empty() && body[0] == ';') {
            ++r.lines_read;
            continue;
        }
        const LineKind kind = scan_row(line, row);
        if (kind == LineKind::not_numbers) break;
        if (kind == LineKind::bad) return ConversionStatus::record_error;
        if (kind == LineKind::numbers) {
            if (row.values < 2) return ConversionStatus::not_available;
            if (got >= limit) {
                r.point_count = got;
                return ConversionStatus::too_many_points;
            }
            if (got == 0) {
                first_row = at;
                first_x = row.x;
            }
            last_x = row.x;
            r.intensity(++got) = static_cast<float>(row.y);
        }
        ++r.lines_read;
    }
    r.point_count = got;
    if (got == 0) {
        r.two_theta_end = -r.two_theta_step + r.two_theta_start;
        return ConversionStatus::done;
    }
    const double step = got > 1 ? derived_step(first_x, last_x, got) : 0.0;
    if (got > 1) {
        // Every angle must lie within half a step of its place on the grid.
        if (!(std::fabs(step) > 0.0)) return ConversionStatus::not_available;
        in.set_position(first_row);
        for (int32_t i = 0; i < got;) {
            if (!in.next_line(line)) return ConversionStatus::not_available;
            if (scan_row(line, row) != LineKind::numbers) continue;
            const double expected = first_x + static_cast<double>(i) * step;
            if (!(std::fabs(row.x - expected) <= 0.5 * std::fabs(step)))
                return ConversionStatus::not_available;
            ++i;
        }
    }
    r.two_theta_start = static_cast<float>(first_x);
    r.two_theta_step = static_cast<float>(step);
    r.two_theta_end = static_cast<float>(last_x);
    return ConversionStatus::done;
}

ConversionStatus read_uxd(Workspace& ws) {
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    // A file without "_STEPCOUNT" is read uncounted, whatever an earlier dataset left.
    r.point_count = 0;
    r.lines_read = 0;
    bool seen_wl1 = false, seen_wl2 = false;
    DataForm form = DataForm::counts;
    std::string_view line;
    while (true) {
        if (!in.next_line(line)) return ConversionStatus::premature_end;
        const std::string_view body = skip_blanks(line);
        std::string_view rest;
        if (body.starts_with(';')) {
            // A comment, even when it quotes a key (a path like "QUARTZ_COUNTS.RAW").
        } else if (sample_value(body, rest)) {
            r.set_title(title_text(rest));
        } else if (const auto* key =
                       std::find_if(std::begin(kNumericKeys), std::end(kNumericKeys),
                                    [&](const NumericKey& k) { return body.starts_with(k.name); });
                   key != std::end(kNumericKeys)) {
            store_keyword_value(ws, *key, body);
            seen_wl1 = seen_wl1 || key->key == Key::wl1;
            seen_wl2 = seen_wl2 || key->key == Key::wl2;
            if (key->key == Key::step_count && r.point_count > r.max_points)
                return ConversionStatus::too_many_points;
        } else if (body.starts_with("_COUNTS")) {
            form = DataForm::counts;
            ++r.lines_read;
            break;
        } else if (body.starts_with("_2THETACOUNTS") || body.starts_with("_2THETACPS")) {
            form = DataForm::rows;
            ++r.lines_read;
            break;
        }
        ++r.lines_read;
    }
    // A file that names "_WL1" and no "_WL2" holds one wavelength (this writer
    // leaves both alpha2 lines out then).
    if (seen_wl1 && !seen_wl2) {
        r.lambda2 = 0.0f;
        r.alpha_ratio = 0.0f;
    }
    return form == DataForm::rows ? read_rows(ws) : read_counts(ws);
}

// --- Writing ----------------------------------------------------------------------

constexpr std::size_t kPathLength = 512;  // the session's path, blank-padded
constexpr std::size_t kCommentLength = 80;

// ";  converted from " and the input path up to and including its first
// blank, at most 62 characters of it, padded to 80 columns.
std::string converted_from_line(std::string_view path) {
    std::size_t upto = 0;  // the first blank's column in the blank-padded path, or 0
    const std::size_t blank = path.find(' ');
    if (blank != std::string_view::npos && blank < kPathLength)
        upto = blank + 1;
    else if (path.size() < kPathLength)
        upto = path.size() + 1;
    std::string line = ";  converted from ";
    const std::size_t take = std::min<std::size_t>(upto, 62);
    line.append(path.substr(0, std::min(take, path.size())));
    line.resize(kCommentLength, ' ');
    return line;
}

// Decimals of the "_STEPSIZE" field: 4 when they hold the step to 1e-6, else
// as many as the step needs, at most 6.
int32_t step_decimals(float step) noexcept {
    const double s = step;
    if (std::fabs(std::round(s * 1e4) / 1e4 - s) <= 1e-6) return 4;
    if (static_cast<float>(std::round(s * 1e5) / 1e5) == step) return 5;
    return 6;
}

ConversionStatus write_uxd(Workspace& ws) {
    static const Layout kComment("(A)");
    static const Layout kFileVersion("('_FILEVERSION=1')");
    static const Layout kDrive("('_DRIVE=''COUPLED''')");
    static const Layout kSample("('_SAMPLE=''',A,'''',/,'_WL1=',F8.5)");
    static const Layout kAlpha2("('_WL2=',F8.5,/,'_WLRATIO=',F8.5)");
    static const Layout kStepTime("('_STEPTIME=',F7.3)");
    static const Layout kStepSize[] = {Layout("('_STEPSIZE=',F7.4)"), Layout("('_STEPSIZE=',F8.5)"),
                                       Layout("('_STEPSIZE=',F9.6)")};
    static const Layout kStart("('_START=',F7.3)");
    static const Layout kStepCount("('_STEPCOUNT=',I5,/,'_COUNTS')");
    static const Layout kStepCountFull("('_STEPCOUNT=',I6,/,'_COUNTS')");
    static const Layout kCounts("(8F8.0)");

    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    const int32_t n = std::clamp(r.point_count, 0, kPointCapacity);
    const std::span<const float> counts(r.intensity.data(), static_cast<std::size_t>(n));
    const std::size_t full_lines = static_cast<std::size_t>(n / 8) * 8;

    const bool written =
        write_record(out, kComment, {converted_from_line(ws.session().input_path)}) ==
            Outcome::done &&
        write_record(out, kFileVersion, {}) == Outcome::done &&
        write_record(out, kSample, {trim_right(r.title), r.lambda1}) == Outcome::done &&
        (r.lambda2 == 0.0f ||
         write_record(out, kAlpha2, {r.lambda2, r.alpha_ratio}) == Outcome::done) &&
        write_record(out, kDrive, {}) == Outcome::done &&
        write_record(out, kStepTime, {r.count_time}) == Outcome::done &&
        write_record(out, kStepSize[step_decimals(r.two_theta_step) - 4], {r.two_theta_step}) ==
            Outcome::done &&
        write_record(out, kStart, {r.two_theta_start}) == Outcome::done &&
        write_record(out, n > 99999 ? kStepCountFull : kStepCount, {n}) == Outcome::done &&
        (full_lines == 0 ||
         write_record(out, kCounts, {counts.first(full_lines)}) == Outcome::done) &&
        // The rest of the counts; an empty line when there is no rest.
        write_record(out, kCounts, {counts.subspan(full_lines)}) == Outcome::done;
    if (!written) return ConversionStatus::record_error;
    // A field filled with asterisks would make a file that no reader reads right.
    if (out.overflowed()) return ConversionStatus::too_large;
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus siemens_uxd_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] { return mode == CodecMode::write ? write_uxd(ws) : read_uxd(ws); });
}

}  // namespace qelda
