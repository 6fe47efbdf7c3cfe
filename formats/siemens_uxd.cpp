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
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/even_grid.h"
#include "core/fields.h"
#include "core/pattern_options.h"
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

// Hands every value of a data line to `sink` with its text, in order. Values
// stand in 8-column fields (see above) or are separated by blanks, tabs or commas.
template <class Sink>
LineKind scan_numbers_text(std::string_view line, Sink&& sink) {
    line = trim_blanks_right(line);
    bool any = false;
    auto take = [&](std::string_view text) {
        double v = 0.0;
        if (!parse_number(text, v)) return false;
        any = true;
        sink(v, text);
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

template <class Sink>
LineKind scan_numbers(std::string_view line, Sink&& sink) {
    return scan_numbers_text(line, [&](double v, std::string_view) { sink(v); });
}

// --- Keywords -------------------------------------------------------------------

enum class Key { step, start, step_count, step_time, wl1, wl2, wl_ratio };

struct NumericKey {
    std::string_view name;
    Key key;
};

// Test order: the first key that starts the line wins ("_STARTTIME" is "_START").
constexpr NumericKey kNumericKeys[] = {
    {"_STEPSIZE", Key::step},      {"_START", Key::start}, {"_STEPCOUNT", Key::step_count},
    {"_STEPTIME", Key::step_time}, {"_WL1", Key::wl1},     {"_WL2", Key::wl2},
    {"_WLRATIO", Key::wl_ratio},
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

// Stores the number after the first "=" of a keyword line, as written: a value
// without a point is a whole number ("_START=10" is 10, "_STEPTIME=1" is 1 s),
// as every program that writes UXD files means it; no implied decimals. False
// when the value is not a number.
bool store_keyword_value(PowderPattern& r, const NumericKey& key, std::string_view body) {
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view value = skip_blanks(body.substr(eq + 1));
    std::size_t end = 0;
    while (end < value.size() && !is_blank(value[end])) ++end;
    value = value.substr(0, end);
    if (key.key == Key::step_count) {
        int64_t n = 0;
        if (parse_integer_field(value, n) != FieldError::none || n < INT32_MIN || n > INT32_MAX)
            return false;
        r.point_count = static_cast<int32_t>(n);
        return true;
    }
    double v = 0.0;
    if (parse_real_field(value, 0, v) != FieldError::none || !std::isfinite(v) ||
        std::fabs(v) > FLT_MAX)
        return false;
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
    return true;
}

// The value of "_DRIVE='PHI'" or "_DRIVE = COUPLED", in upper case, without quotes.
std::string drive_value(std::string_view body) {
    const std::size_t eq = body.find('=');
    std::string_view v = eq == std::string_view::npos
                             ? std::string_view{}
                             : trim_blanks_right(skip_blanks(body.substr(eq + 1)));
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    std::string out(v);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The text after "_KEY =" on a keyword line, without quotes; nothing when the
// line holds another keyword.
std::optional<std::string_view> keyword_text(std::string_view body, std::string_view key) {
    if (!body.starts_with(key)) return std::nullopt;
    std::string_view rest = skip_blanks(body.substr(key.size()));
    if (rest.empty() || rest.front() != '=') return std::nullopt;
    rest = trim_blanks_right(skip_blanks(rest.substr(1)));
    if (rest.size() >= 2 && (rest.front() == '\'' || rest.front() == '"') &&
        rest.back() == rest.front())
        rest = rest.substr(1, rest.size() - 2);
    return rest;
}

// Coupled and detector scans move 2theta; PHI, CHI, PSI, X, Y, OMEGA and the
// like move another axis. A range that names no drive is a 2theta scan.
bool is_two_theta_drive(std::string_view drive) noexcept {
    return drive.empty() || drive.find("COUPLED") != std::string_view::npos ||
           drive.find("2THETA") != std::string_view::npos ||
           drive.find("TWOTHETA") != std::string_view::npos || drive == "DETECTOR" ||
           drive == "UNLOCKED";
}

std::string number_text(double v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
    return std::string(buf, res.ptr);
}

// --- Reading ----------------------------------------------------------------------

enum class DataForm { counts, rows };

// The data markers: counts several to a line, or angle-intensity rows; the CPS
// forms give counts per second.
struct Marker {
    std::string_view name;
    DataForm form;
    bool per_second;
};
constexpr Marker kMarkers[] = {
    {"_COUNTS", DataForm::counts, false},
    {"_CPS", DataForm::counts, true},
    {"_2THETACOUNTS", DataForm::rows, false},
    {"_2THETACPS", DataForm::rows, true},
};

const Marker* marker_of(std::string_view body) noexcept {
    for (const Marker& m : kMarkers)
        if (body.starts_with(m.name)) return &m;
    return nullptr;
}

// One angle-intensity row: false when it holds fewer than two values.
struct Row {
    double x = 0.0;
    double y = 0.0;
    int32_t values = 0;
    std::string_view x_text;
};

// The step between the first and the last angle: rounded to 0.0001 as the x-y
// reader does when that holds it to 1e-6, else to 0.000001, so that fine steps
// do not drift.
double derived_step(double first, double last, int32_t n) noexcept {
    const double q = (last - first) / static_cast<double>(n - 1);
    const double coarse = std::round(q * 1e4) / 1e4;
    return std::fabs(coarse - q) <= 1e-6 ? coarse : std::round(q * 1e6) / 1e6;
}

// Some programs round an angle twice (to one decimal more, then to the decimals
// they print), which leaves it a little more than half a unit of its last decimal
// off the grid; up to 0.6 of a unit still tells a rounded angle from one that
// misses the grid by a fraction of a step or more.
std::optional<GridMiss> first_angle_off_grid(std::span<const double> angles,
                                             std::span<const int8_t> decimals, double start,
                                             double step) {
    std::size_t k = 0;
    while (k < angles.size()) {
        auto miss = first_off_grid(angles.subspan(k), decimals.subspan(k),
                                   start + static_cast<double>(k) * step, step);
        if (!miss) return std::nullopt;
        const std::size_t i = k + miss->index;
        if (!(std::fabs(miss->off) <= 0.6 * std::pow(10.0, -decimals[i]))) {
            miss->index = i;
            return miss;
        }
        k = i + 1;
    }
    return std::nullopt;
}

class UxdReader {
  public:
    explicit UxdReader(Workspace& ws)
        : ws_(ws), r_(ws.record()), in_(ws.input()), file_(ws.input().file_name()) {}

    ConversionStatus read() {
        // A file without "_STEPCOUNT" is read uncounted, whatever an earlier dataset left.
        r_.point_count = 0;
        r_.lines_read = 0;
        const int32_t wanted = std::max<int32_t>(ws_.options.scan, 1);
        // Without a choice, the first 2theta range is converted.
        const bool first_two_theta = ws_.options.scan <= 1;
        bool seen_wl1 = false, seen_wl2 = false;
        bool keyword_seen = false;
        std::string_view line;
        while (in_.next_line(line)) {
            const std::string_view body = skip_blanks(line);
            std::string_view rest;
            keyword_seen = keyword_seen || body.starts_with('_');
            if (taken_ == 0) note_condition(body);
            if (body.starts_with(';')) {
                // A comment, even when it quotes a key (a path like "QUARTZ_COUNTS.RAW").
            } else if (taken_ > 0) {
                // After the range converted, the markers are only counted.
                if (marker_of(body) != nullptr) ++ranges_;
            } else if (sample_value(body, rest)) {
                r_.set_title(title_text(rest));
            } else if (body.starts_with("_DRIVE")) {
                drive_ = drive_value(body);
            } else if (const auto* key = std::find_if(
                           std::begin(kNumericKeys), std::end(kNumericKeys),
                           [&](const NumericKey& k) { return body.starts_with(k.name); });
                       key != std::end(kNumericKeys)) {
                if (!store_keyword_value(r_, *key, body))
                    return line_error(
                        ConversionStatus::record_error,
                        "the value of " + std::string(key->name) + " is not a number");
                seen_wl1 = seen_wl1 || key->key == Key::wl1;
                seen_wl2 = seen_wl2 || key->key == Key::wl2;
                step_time_seen_ = step_time_seen_ || key->key == Key::step_time;
                step_count_seen_ = step_count_seen_ || key->key == Key::step_count;
            } else if (const Marker* marker = marker_of(body)) {
                ++ranges_;
                ++r_.lines_read;
                const bool axis_ok = ws_.options.any_axis || is_two_theta_drive(drive_);
                if (!axis_ok && other_axis_range_ == 0) {
                    other_axis_range_ = ranges_;
                    other_axis_ = drive_;
                }
                const bool take = first_two_theta ? axis_ok : ranges_ == wanted;
                if (!take) {
                    // The next range states its own count and conditions.
                    const std::string measured_at = std::move(ws_.scan.measured_at);
                    ws_.scan = ScanInfo{};
                    ws_.scan.measured_at = measured_at;
                    r_.point_count = 0;
                    step_count_seen_ = false;
                    continue;
                }
                if (!axis_ok) return refuse_axis(ranges_, drive_);
                taken_ = ranges_;
                ws_.scan.number = ranges_;
                ws_.scan.axis = drive_;
                const ConversionStatus s =
                    marker->form == DataForm::rows ? read_rows() : read_counts();
                if (s != ConversionStatus::done) return s;
                if (marker->per_second) {
                    if (const ConversionStatus c = per_step(marker->name);
                        c != ConversionStatus::done)
                        return c;
                }
                continue;
            }
            ++r_.lines_read;
        }
        if (ranges_ == 0 && !keyword_seen)
            return ws_.fail(
                ConversionStatus::not_available,
                file_ + " has no keyword lines (_START=, _COUNTS, ...): not a UXD file");
        if (ranges_ == 0)
            return ws_.fail(
                ConversionStatus::premature_end,
                file_ + " ends before a _COUNTS or _2THETACOUNTS line: it holds no data");
        if (taken_ == 0) {
            if (!first_two_theta)
                return ws_.fail(ConversionStatus::not_available, file_ + " holds " + ranges_text() +
                                                                     "; there is no range " +
                                                                     std::to_string(wanted));
            return refuse_axis(other_axis_range_, other_axis_);
        }
        // A file that names "_WL1" and no "_WL2" holds one wavelength (this writer
        // leaves both alpha2 lines out then).
        if (seen_wl1 && !seen_wl2) {
            r_.lambda2 = 0.0f;
            r_.alpha_ratio = 0.0f;
        }
        ws_.scan.count = ranges_;
        if (ranges_ > 1 && !ws_.options.all_scans)
            ws_.warn(file_ + " holds " + ranges_text() + "; range " + std::to_string(taken_) +
                     " converted");
        return ConversionStatus::done;
    }

  private:
    std::string ranges_text() const {
        return std::to_string(ranges_) + (ranges_ == 1 ? " range" : " ranges");
    }

    // The conditions a range's keywords state: the angles that stand still, the
    // temperature and (for the whole file) the date of measurement.
    void note_condition(std::string_view body) {
        const bool detector_scan = drive_ == "2THETA" || drive_ == "DETECTOR";
        const struct {
            std::string_view key;
            std::optional<double>* value;
        } angles[] = {{"_KHI", &ws_.scan.chi},
                      {"_PHI", &ws_.scan.phi},
                      {"_THETA", detector_scan ? &ws_.scan.omega : nullptr}};
        for (const auto& a : angles) {
            const auto text = keyword_text(body, a.key);
            double v = 0;
            if (text && a.value != nullptr && parse_real_field(*text, 0, v) == FieldError::none)
                *a.value = v;
        }
        if (const auto text = keyword_text(body, "_V4_TEMPERATURE")) {
            double v = 0;
            // Files of a stage without a sensor state 0 or 9999.
            if (parse_real_field(*text, 0, v) == FieldError::none && v > 0.0 && v < 9999.0)
                ws_.scan.temperature = v;
        }
        if (const auto text = keyword_text(body, "_DATEMEASURED"))
            ws_.scan.measured_at = std::string(*text);
    }

    ConversionStatus refuse_axis(int32_t range, const std::string& drive) {
        ws_.scan.axis_refused = true;
        std::string what = file_ + ": range " + std::to_string(range) + " scans " + drive +
                           " (_DRIVE='" + drive + "'), not 2theta";
        if (ranges_ > 1 && ws_.options.scan <= 1)
            what += ", and so do the other " + std::to_string(ranges_ - 1) + " ranges";
        return ws_.fail(ConversionStatus::not_available,
                        what + "; only 2theta scans can be converted");
    }

    // The data run to the end of the file and its last line has no line end.
    ConversionStatus cut_last_line() {
        return ws_.fail(ConversionStatus::premature_end,
                        file_ + ": the file ends inside line " + std::to_string(r_.lines_read) +
                            " (no line end after it), so its last value may be cut; nothing "
                            "converted");
    }

    // The error of the line after the last one read.
    ConversionStatus line_error(ConversionStatus status, const std::string& what) {
        return ws_.fail(status,
                        file_ + ", line " + std::to_string(r_.lines_read + 1) + ": " + what);
    }

    // Counts per second become counts per step: the record's counts are what a
    // detector counted, and programs that weight by the counts rely on it.
    ConversionStatus per_step(std::string_view marker) {
        if (!step_time_seen_ || !(r_.count_time > 0.0f))
            return ws_.fail(ConversionStatus::not_available,
                            file_ + " gives counts per second (" + std::string(marker) +
                                ") but no _STEPTIME to turn them into counts per step");
        for (int32_t i = 1; i <= r_.point_count; ++i) r_.intensity(i) *= r_.count_time;
        ws_.warn(file_ + ": counts per second (" + std::string(marker) +
                 ") converted to counts per step with the step time " + number_text(r_.count_time) +
                 " s");
        return ConversionStatus::done;
    }

    // The counts after "_COUNTS": exactly `point_count` of them when the header
    // gave more than one, otherwise every count up to the first line that is not
    // numbers (a comment, the next range's keywords, the end of the file).
    ConversionStatus read_counts() {
        const int32_t limit = std::clamp(r_.max_points, 0, kPointCapacity);
        std::string_view line;
        int32_t got = 0;
        if (r_.point_count > 1) {
            if (r_.point_count > limit) return ConversionStatus::too_many_points;
            const int32_t n = r_.point_count;
            int32_t extra = 0;
            while (got < n) {
                if (!in_.next_line(line))
                    return ws_.fail(ConversionStatus::premature_end,
                                    file_ + " ends after " + std::to_string(got) + " of the " +
                                        std::to_string(n) + " counts that _STEPCOUNT announces");
                const LineKind kind = scan_numbers(line, [&](double v) {
                    if (got < n)
                        r_.intensity(++got) = static_cast<float>(v);
                    else
                        ++extra;
                });
                if (kind == LineKind::not_numbers)
                    return line_error(ConversionStatus::record_error,
                                      "the counts end after " + std::to_string(got) + " of the " +
                                          std::to_string(n) + " that _STEPCOUNT announces");
                if (kind == LineKind::bad)
                    return line_error(ConversionStatus::record_error,
                                      "a value among the counts is not a number");
                ++r_.lines_read;
            }
            // Counts past the announced ones are left out, and said so.
            const std::size_t resume = in_.position();
            while (extra == 0 && in_.next_line(line)) {
                const LineKind kind = scan_numbers(line, [&](double) { ++extra; });
                if (kind != LineKind::empty) break;
            }
            in_.set_position(resume);
            if (extra > 0)
                ws_.warn(file_ + ": range " + std::to_string(ranges_) +
                         " holds more counts than the " + std::to_string(n) +
                         " that _STEPCOUNT announces; the rest was left out");
        } else {
            bool over = false;
            bool at_end = true;  // the counts run to the end of the file
            bool last_numbers = false;
            while (in_.next_line(line)) {
                const LineKind kind = scan_numbers(line, [&](double v) {
                    if (got < limit)
                        r_.intensity(++got) = static_cast<float>(v);
                    else
                        over = true;
                });
                r_.point_count = got;
                last_numbers = kind == LineKind::numbers;
                if (kind == LineKind::not_numbers) {
                    in_.backspace();
                    at_end = false;
                    break;
                }
                if (kind == LineKind::bad)
                    return line_error(ConversionStatus::record_error,
                                      "a value among the counts is not a number");
                if (over) return ConversionStatus::too_many_points;
                ++r_.lines_read;
            }
            r_.point_count = got;
            // Without a count to check against, a last line with no line end
            // may have lost its end, and with it part of its last count.
            if (at_end && last_numbers && !in_.ends_with_line_end()) return cut_last_line();
        }
        r_.two_theta_end =
            static_cast<float>(r_.point_count - 1) * r_.two_theta_step + r_.two_theta_start;
        return ConversionStatus::done;
    }

    static LineKind scan_row(std::string_view line, Row& row) {
        row = Row{};
        return scan_numbers_text(line, [&](double v, std::string_view text) {
            if (row.values == 0) {
                row.x = v;
                row.x_text = text;
            }
            if (row.values == 1) row.y = v;
            ++row.values;
        });
    }

    // Rows of angle, intensity (and perhaps more) after "_2THETACOUNTS" or
    // "_2THETACPS": start = the first angle, end = the last, the step derived.
    // Angles that do not lie on one even grid cannot be held by the record.
    ConversionStatus read_rows() {
        const int32_t limit = std::clamp(r_.max_points, 0, kPointCapacity);
        // "_STEPCOUNT" of this range, when it gave one.
        const int32_t announced = step_count_seen_ ? r_.point_count : 0;
        if (announced > limit) return ConversionStatus::too_many_points;
        std::vector<double> angles;
        std::vector<int8_t> decimals;
        std::vector<int32_t> line_numbers;
        std::string_view line;
        int32_t got = 0;
        int32_t extra = 0;
        Row row;
        bool at_end = true;  // the rows run to the end of the file
        bool last_numbers = false;
        while (in_.next_line(line)) {
            const std::string_view body = skip_blanks(line);
            if (got == 0 && !body.empty() && body[0] == ';') {
                ++r_.lines_read;
                continue;
            }
            const LineKind kind = scan_row(line, row);
            if (kind == LineKind::not_numbers) {
                in_.backspace();
                at_end = false;
                break;
            }
            if (kind == LineKind::bad)
                return line_error(ConversionStatus::record_error,
                                  "a value of the row is not a number");
            last_numbers = kind == LineKind::numbers;
            if (kind == LineKind::numbers) {
                if (row.values < 2)
                    return line_error(ConversionStatus::record_error,
                                      "the row holds one value where angle-intensity rows hold "
                                      "two");
                if (announced > 0 && got >= announced) {
                    ++extra;
                } else {
                    if (got >= limit) {
                        r_.point_count = got;
                        return ConversionStatus::too_many_points;
                    }
                    r_.intensity(++got) = static_cast<float>(row.y);
                    angles.push_back(row.x);
                    decimals.push_back(
                        static_cast<int8_t>(std::min(printed_decimals(row.x_text), 100)));
                    line_numbers.push_back(r_.lines_read + 1);
                }
            }
            ++r_.lines_read;
        }
        if (announced > 0 && got < announced)
            return line_error(ConversionStatus::record_error,
                              "the rows end after " + std::to_string(got) + " of the " +
                                  std::to_string(announced) + " that _STEPCOUNT announces");
        // A last row with no line end is whole only when it completes the
        // announced count; otherwise its intensity may have been cut.
        if (at_end && got > 0 && !in_.ends_with_line_end() && announced == 0 && last_numbers)
            return cut_last_line();
        if (extra > 0)
            ws_.warn(file_ + ": range " + std::to_string(ranges_) + " holds more rows than the " +
                     std::to_string(announced) +
                     " that _STEPCOUNT announces; the rest was left out");
        r_.point_count = got;
        if (got == 0) {
            r_.two_theta_end = -r_.two_theta_step + r_.two_theta_start;
            return ConversionStatus::done;
        }
        const double first_x = angles.front();
        const double step = got > 1 ? derived_step(first_x, angles.back(), got) : 0.0;
        if (got > 1) {
            if (!(std::fabs(step) > 0.0))
                return ws_.fail(ConversionStatus::record_error,
                                file_ + ": the " + std::to_string(got) +
                                    " rows of the range all stand at 2theta " +
                                    number_text(first_x));
            if (const auto miss = first_angle_off_grid(angles, decimals, first_x, step)) {
                // Each row states its angle: kept as stated.
                const int32_t at = line_numbers[miss->index];
                ws_.warn(
                    off_grid_note(file_ + ", line " + std::to_string(at), angles[miss->index]));
                r_.angles.assign(angles.begin(), angles.end());
                set_range_from_angles(r_);
                return ConversionStatus::done;
            }
        }
        r_.two_theta_start = static_cast<float>(first_x);
        r_.two_theta_step = static_cast<float>(step);
        r_.two_theta_end = static_cast<float>(angles.back());
        return ConversionStatus::done;
    }

    Workspace& ws_;
    PowderPattern& r_;
    InputUnit& in_;
    std::string file_;
    std::string drive_;  // the _DRIVE of the range being read
    std::string other_axis_;
    int32_t other_axis_range_ = 0;  // the first range whose axis is not 2theta
    int32_t ranges_ = 0;            // data markers met
    int32_t taken_ = 0;             // the range converted, once it is read
    bool step_time_seen_ = false;
    bool step_count_seen_ = false;
};

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

// "KEY=" and the value as Fw.d, or, where that does not read back as the
// value, with the decimals it needs (keyword lines take any width). False for
// a value that is not finite.
bool append_keyword_line(OutputUnit& out, std::string_view key, float value, int32_t width,
                         int32_t decimals) {
    if (!std::isfinite(value)) return false;
    std::string line(key);
    const int32_t needed =
        reads_back(value, decimals) ? decimals : decimals_to_read_back(value, decimals, 12);
    if (needed == decimals && append_real_field(line, value, width, decimals)) {
        out.append_line(line);
        return true;
    }
    line.resize(key.size());
    const std::string digits = fixed_digits(value, needed >= 0 ? needed : 12);
    if (digits.size() < static_cast<std::size_t>(width))
        line.append(static_cast<std::size_t>(width) - digits.size(), ' ');
    line += digits;
    out.append_line(line);
    return true;
}

// The counts, eight to a line in 8-column fields: "   1234." for a whole count
// (or one the driver raised by its shift), else with the decimals it needs. A
// line with a value too wide for its field has its values separated by tabs
// instead, so that no reader cuts it by columns. The last line is followed by
// an empty one when the counts fill it.
bool append_counts(OutputUnit& out, std::span<const float> counts, float shift) {
    std::string fields[8];
    std::string line;
    const std::size_t n = counts.size();
    for (std::size_t at = 0;; at += 8) {
        const std::size_t stop = std::min(n, at + 8);
        bool wide = false;
        for (std::size_t k = at; k < stop; ++k) {
            const float v = counts[k];
            if (!std::isfinite(v)) return false;
            std::string& field = fields[k - at];
            field.clear();
            const int32_t d =
                is_whole_count(v, shift) ? 0 : std::max(1, decimals_to_read_back(v, 1, 12));
            if (!append_real_field(field, v, 8, d)) {
                field = fixed_digits(v, d);
                wide = true;
            }
        }
        line.clear();
        for (std::size_t k = at; k < stop; ++k) {
            const std::string& field = fields[k - at];
            if (!wide) {
                line += field;
                continue;
            }
            if (k > at) line += '\t';
            line += field.substr(std::min(field.find_first_not_of(' '), field.size()));
        }
        out.append_line(line);
        if (stop - at < 8) break;
    }
    return true;
}

ConversionStatus write_uxd(Workspace& ws) {
    static const Layout kComment("(A)");
    static const Layout kFileVersion("('_FILEVERSION=1')");
    static const Layout kDrive("('_DRIVE=''COUPLED''')");
    static const Layout kSample("('_SAMPLE=''',A,'''')");
    static const Layout kStepCount("('_STEPCOUNT=',I5,/,'_COUNTS')");
    static const Layout kStepCountFull("('_STEPCOUNT=',I6,/,'_COUNTS')");

    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    const int32_t n = std::clamp(r.point_count, 0, kPointCapacity);
    const std::span<const float> counts(r.intensity.data(), static_cast<std::size_t>(n));
    const int32_t step_places = step_decimals(r.two_theta_step);

    const bool written =
        write_record(out, kComment, {converted_from_line(ws.session().input_path)}) ==
            Outcome::done &&
        write_record(out, kFileVersion, {}) == Outcome::done &&
        write_record(out, kSample, {trim_right(r.title)}) == Outcome::done &&
        append_keyword_line(out, "_WL1=", r.lambda1, 8, 5) &&
        (r.lambda2 == 0.0f || (append_keyword_line(out, "_WL2=", r.lambda2, 8, 5) &&
                               append_keyword_line(out, "_WLRATIO=", r.alpha_ratio, 8, 5))) &&
        write_record(out, kDrive, {}) == Outcome::done &&
        append_keyword_line(out, "_STEPTIME=", r.count_time, 7, 3) &&
        append_keyword_line(out, "_STEPSIZE=", r.two_theta_step, step_places + 3, step_places) &&
        append_keyword_line(out, "_START=", r.two_theta_start, 7, 3) &&
        write_record(out, n > 99999 ? kStepCountFull : kStepCount, {n}) == Outcome::done &&
        append_counts(out, counts, ws.intensity_shift);
    if (out.overflowed()) return ConversionStatus::too_large;
    if (!written) {
        if (!out.is_open()) return ConversionStatus::record_error;
        // A value that is not a number would make a file that no reader reads right.
        return ws.fail(ConversionStatus::too_large,
                       std::string(out.file_name()) +
                           ": a value of the scan is not a number; UXD cannot hold it");
    }
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus siemens_uxd_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(
        ws, [&] { return mode == CodecMode::write ? write_uxd(ws) : UxdReader(ws).read(); });
}

}  // namespace qelda
