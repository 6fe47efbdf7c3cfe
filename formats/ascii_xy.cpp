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
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/even_grid.h"
#include "core/fields.h"
#include "core/prompts.h"
#include "core/record_io.h"
#include "formats/codecs.h"
#include "formats/text_points.h"

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
// unit of its third decimal (of its last decimal, for angles printed with more): instruments step
// by 0.016455 or 0.00252 as well, and rounding those would move the last points of a long scan by a
// tenth of a degree or more.
//
// Otherwise the step is the shortest decimal (up to nine places) that still
// reaches the last angle as printed, to within half a unit of its last decimal
// (`end_decimals`) and the rounding of the angles to single precision: a step
// written as 0.015327 comes back as 0.015327, not as the float next to it that
// the quotient of two rounded angles happens to give.
float derived_step(float start, float end, int32_t points, int32_t end_decimals = -1) noexcept {
    if (points < 2) return 0.0f;
    const double span = static_cast<double>(end) - static_cast<double>(start);
    const double intervals = points - 1;
    const double rounded = std::round(10000.0 * span / intervals) / 10000.0;
    constexpr double kMax = std::numeric_limits<float>::max();
    const bool printed = end_decimals >= 0 && end_decimals <= 12;
    // Half a unit of the printed decimals, and the rounding of both angles to
    // single precision.
    const double tolerance =
        printed ? 0.5 * std::pow(10.0, -end_decimals) +
                      0.5 * (std::nextafter(std::fabs(end), kMax) - std::fabs(end)) +
                      0.5 * (std::nextafter(std::fabs(start), kMax) - std::fabs(start))
                : 0.0;
    // Angles printed with more than three decimals hold the step closer.
    const double snap = printed && end_decimals > 3 ? tolerance : 0.0005;
    if (std::fabs(rounded * intervals - span) <= snap)
        return static_cast<float>(std::clamp(rounded, -kMax, kMax));
    const float quotient = static_cast<float>(std::clamp(span / intervals, -kMax, kMax));
    if (!printed || !std::isfinite(quotient)) return quotient;
    for (int32_t k = 1; k <= 9; ++k) {
        const double scale = std::pow(10.0, k);
        const double c = std::round(span / intervals * scale) / scale;
        if (c != 0.0 && std::fabs(c * intervals - span) <= tolerance) return static_cast<float>(c);
    }
    return quotient;
}

// What the header of an x-y file states beyond its title.
struct HeaderFacts {
    float wavelength = 0.0f;       // a wavelength the header gives, or 0
    bool lone_wavelength = false;  // the first line is that wavelength alone
    bool names_sigma = false;      // a header line speaks of uncertainties
    bool three_columns = false;    // every data row holds three numbers (or more)
};

char lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where `word` (in lower case) stands in `line`, ignoring case; with
// `word_start`, only where no letter comes before it. npos when it does not.
std::size_t find_word(std::string_view line, std::string_view word,
                      bool word_start = false) noexcept {
    if (word.size() > line.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + word.size() <= line.size(); ++at) {
        if (word_start && at > 0 && std::isalpha(static_cast<unsigned char>(line[at - 1])) != 0)
            continue;
        std::size_t k = 0;
        while (k < word.size() && lower(line[at + k]) == word[k]) ++k;
        if (k == word.size()) return at;
    }
    return std::string_view::npos;
}

// A plausible wavelength in Angstrom.
bool is_wavelength(double v) noexcept {
    return v >= 0.01 && v <= 10.0;
}

// The wavelength a header line states: "# Wavelength 0.589183", "lambda =
// 1.5406", "Lam1: 0.413": the first number after the word, before any other
// word. 0 when the line states none.
float stated_wavelength(std::string_view line) {
    std::size_t at = std::string_view::npos;
    std::size_t word = 0;
    for (const std::string_view w : {"wavelength", "lambda", "lam"}) {
        at = find_word(line, w, true);
        if (at != std::string_view::npos) {
            word = w.size();
            break;
        }
    }
    if (at == std::string_view::npos) return 0.0f;
    std::size_t pos = at + word;
    // The rest of the word ("Lam1", "wavelength_1"), then separators.
    while (pos < line.size() &&
           (std::isalnum(static_cast<unsigned char>(line[pos])) != 0 || line[pos] == '_'))
        ++pos;
    while (pos < line.size() && (is_gap(line[pos]) || line[pos] == '=' || line[pos] == ':')) ++pos;
    std::size_t end = pos;
    while (end < line.size() && !is_gap(line[end]) && line[end] != ',' && line[end] != ';') ++end;
    double v = 0.0;
    if (end == pos || !parse_value(line.substr(pos, end - pos), v) || !is_wavelength(v))
        return 0.0f;
    return static_cast<float>(v);
}

// Looks over the header lines (the first `header_lines` lines and the "#"
// lines before the data) and, when they or the file's extension speak of
// uncertainties, over every data row. The unit is left where it was.
HeaderFacts scan_header(InputUnit& in, int32_t header_lines) {
    HeaderFacts facts;
    const std::size_t origin = in.position();
    const std::string_view name = in.file_name();
    const bool xye = name.size() >= 4 && find_word(name.substr(name.size() - 4), ".xye") == 0;
    std::string_view line;
    int32_t line_no = 0;
    bool in_data = false;
    int rows = 0;
    bool all_three = true;
    while (in.next_line(line)) {
        ++line_no;
        const Tokens t = split_values(line);
        const bool header = line_no <= header_lines || (!in_data && t.comment);
        if (header) {
            if (line_no == 1 && xye && t.count == 1 && numeric_columns(t) == 1) {
                double v = 0.0;
                if (parse_value(t.text[0], v) && is_wavelength(v)) {
                    facts.wavelength = static_cast<float>(v);
                    facts.lone_wavelength = true;
                    continue;
                }
            }
            if (facts.wavelength == 0.0f) facts.wavelength = stated_wavelength(line);
            for (const std::string_view w : {"sigma", "esd", "e.s.d", "uncertaint", "error"})
                facts.names_sigma =
                    facts.names_sigma || find_word(line, w) != std::string_view::npos;
            continue;
        }
        if (t.comment || t.count == 0) continue;
        in_data = true;
        if (!(xye || facts.names_sigma)) break;
        ++rows;
        all_three = all_three && t.count >= 3 && numeric_columns(t) >= 3;
        if (!all_three) break;
    }
    facts.three_columns = rows > 0 && all_three;
    if (!(xye || facts.names_sigma)) facts.three_columns = false;
    in.set_position(origin);
    return facts;
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

// What a header or comment line says of an x axis other than 2theta: "d (Å)"
// for our own "# axis d (Å)", "time-of-flight" for "The X-axis unit is:
// Time-of-flight"; empty when it says nothing of the kind.
std::string other_axis_stated(std::string_view line) {
    std::string low;
    low.reserve(line.size());
    for (const char c : line) low += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // "The X-axis unit is: Time-of-flight": a line about an axis or a unit, not
    // any remark that mentions time of flight.
    if ((low.find("time-of-flight") != std::string::npos ||
         low.find("time of flight") != std::string::npos) &&
        (low.find("axis") != std::string::npos || low.find("unit") != std::string::npos))
        return "time-of-flight";
    const auto first = low.find_first_not_of(" \t#'!;");
    if (first == std::string::npos || first == 0) return {};
    const std::string_view rest = std::string_view(low).substr(first);
    if (rest.substr(0, 5) != "axis ") return {};
    const std::string_view name = rest.substr(5, rest.find_first_of(" (", 5) - 5);
    if (name == "d" || name == "q") return std::string(trim_right(line.substr(first + 5)));
    return {};
}

ConversionStatus read_xy(Workspace& ws) {
    static const Layout kTitle("(A60)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();

    const int32_t detected = detect_header_lines(in);
    const HeaderFacts facts = scan_header(in, detected);
    // The first line is offered as the title; an empty file holds no data line.
    std::string title;
    if (read_record(in, kTitle, {TextRef{title, kTitleLength}}) != Outcome::done) {
        r.lines_read = 0;
        return ws.fail(ConversionStatus::premature_end, std::string(in.file_name()) + " is empty");
    }
    // The first line is the title only when it is not a point of the scan (or
    // the wavelength of an .xye); a title behind a "#" is taken without it.
    if (detected == 0 || facts.lone_wavelength) title.clear();
    // Some programs pad the title line with NUL bytes.
    for (char& c : title)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    if (const Tokens t = split_values(title); t.comment) {
        const auto first = title.find_first_not_of(" \t#");
        title = first == std::string::npos ? std::string() : title.substr(first);
    }
    r.set_title(title);
    XyInputChoice choice = ask_xy_input(ws, detected);
    // A third column of uncertainties, where the extension or the header says
    // so and every row holds one, is read without being asked for.
    if (!choice.read_sigma && !ws.options.no_sigma && facts.three_columns) {
        choice.read_sigma = true;
        ws.has_sigma = true;
    }

    // The title line counts among the header lines: with none, it is the first
    // data line.
    in.backspace();
    int32_t lines = 0;
    std::string_view line;
    // A header that names another x axis than 2theta: its first column is not
    // read as angles.
    auto other_axis = [&](std::string_view text) -> std::optional<ConversionStatus> {
        const std::string axis = other_axis_stated(text);
        if (axis.empty()) return std::nullopt;
        r.lines_read = lines;
        return ws.fail(ConversionStatus::not_available,
                       where(in, lines) + " states an x axis of " + axis +
                           "; x-y files are read with 2theta in the first column only");
    };
    for (int32_t k = 0; k < choice.header_lines; ++k) {
        if (!in.next_line(line)) {
            r.lines_read = lines;
            return ws.fail(ConversionStatus::premature_end,
                           std::string(in.file_name()) + " ends within its " +
                               std::to_string(choice.header_lines) + " header lines");
        }
        ++lines;
        if (const auto st = other_axis(line)) return *st;
    }

    ask_wavelengths(ws);
    if (facts.wavelength > 0.0f) {
        // One wavelength stated: a single line.
        r.lambda1 = facts.wavelength;
        r.lambda2 = 0.0f;
        r.alpha_ratio = 0.0f;
        ws.wavelength_origin = WavelengthOrigin::file;
    }

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
        if (t.comment)
            if (const auto st = other_axis(line)) return *st;
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
    r.two_theta_step = derived_step(r.two_theta_start, r.two_theta_end, points, decimals.back());
    if (points > 1) {
        const double start = r.two_theta_start;
        const double step = r.two_theta_step;
        if (const auto miss = first_off_grid(angles, decimals, start, step)) {
            // Kept as stated: the writers that hold each angle write them, the
            // others refuse the record (or --resample puts it on a grid).
            ws.warn(off_grid_note(where(in, line_of[miss->index]), angles[miss->index]));
            r.angles = std::move(angles);
            set_range_from_angles(r);
        }
    }
    return ConversionStatus::done;
}

// Writes `value` as Fw.d at `p`, or wider when it does not fit; returns the end
// of the field, or nullptr when the value is not a number at all. `p` has room
// for kFieldRoom characters.
constexpr std::size_t kFieldRoom = kRealFieldRoom;

[[gnu::noinline]] char* put_value_general(char* p, double value, int32_t width, int32_t decimals) {
    if (!std::isfinite(value)) return nullptr;
    // The values are floats, whose digits fit the room.
    std::string digits;
    if (!append_real_field(digits, value, width, decimals)) digits = fixed_digits(value, decimals);
    digits.resize(std::min(digits.size(), kFieldRoom));
    std::memcpy(p, digits.data(), digits.size());
    return p + digits.size();
}

inline char* put_value(char* p, double value, int32_t width, int32_t decimals = 3) {
    if (char* end = format_real_field(p, value, width, decimals, true)) return end;
    return put_value_general(p, value, width, decimals);
}

// An intensity or sigma: three decimals where they read back as the value (a
// whole count among them), else the decimals it needs.
inline char* put_count(char* p, float value, int32_t width) {
    if (value == std::round(value) || reads_back(value, 3)) return put_value(p, value, width);
    const int32_t d = decimals_to_read_back(value, 4, 12);
    return put_value(p, value, width, d < 0 ? 12 : d);
}

// The decimals of the angle column: three where the reader gets the same start
// and step back from them, else the fewest that do (at most nine). Where none
// does, the start's own decimals, and what the reader will make of the step.
struct AngleColumn {
    int32_t decimals = 3;
    float start = 0.0f;  // as the reader gets them back
    float step = 0.0f;
};

AngleColumn angle_column(float start, float step, int32_t n) {
    const float last = static_cast<float>(static_cast<double>(start) + (n - 1.0) * step);
    auto back = [](float v, int32_t d) {
        const std::string digits = fixed_digits(v, d);
        double x = 0.0;
        parse_real_field(digits, 0, x);
        return static_cast<float>(x);
    };
    auto column = [&](int32_t d) {
        const float s = back(start, d);
        return AngleColumn{d, s, n < 2 ? step : derived_step(s, back(last, d), n, d)};
    };
    for (int32_t d = 3; d <= 9; ++d) {
        const AngleColumn c = column(d);
        if (c.start == start && c.step == step) return c;
    }
    return column(std::clamp(shortest_decimals(start), 3, 9));
}

// The decimals that print every value so that it reads back (3 to 9).
int32_t column_decimals(const std::vector<float>& values) {
    int32_t places = 3;
    for (const float v : values) {
        if (places == 9) break;
        const int32_t d = decimals_to_read_back(v, places, 9);
        places = d < 0 ? 9 : std::max(places, d);
    }
    return places;
}

// True when a title line would be read as data: it holds numbers only.
bool title_reads_as_data(std::string_view title) {
    const Tokens t = split_values(title);
    return !t.comment && t.count > 0 && numeric_columns(t) == t.count;
}

ConversionStatus write_xy(Workspace& ws) {
    static const Layout kTitle("(A60)");
    const AsciiOutputChoice choice = ask_ascii_output(ws);
    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    if (choice.write_title) {
        // A title of numbers goes behind a "#", where no reader takes it for
        // a point and ours still takes it for the title.
        const bool hide = title_reads_as_data(r.title);
        if (write_record(out, kTitle, {hide ? "# " + std::string(trim_right(r.title)) : r.title}) !=
            Outcome::done)
            return ConversionStatus::record_error;
    }
    if (ws.has_sigma && !choice.write_sigma)
        ws.warn("\u03c3 from the file not written: x-y output without --write-sigma");

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
    // Angles stated one by one, or d or Q: each x printed with the decimals
    // that read back as its value (at least three, at most nine).
    const bool each = per_point_x(ws);
    std::vector<float> xs;
    if (each) {
        xs.resize(static_cast<std::size_t>(std::max(n, 0)));
        for (int32_t i = 0; i < n; ++i) xs[static_cast<std::size_t>(i)] = point_x(ws, i);
        if (ws.pattern_options.axis != Axis::two_theta) {
            const Axis axis = ws.pattern_options.axis;
            out.append_line("# axis " + std::string(axis_label(axis)) + " (" +
                            std::string(axis_unit(axis)) + ")");
        }
    }
    const AngleColumn column = each    ? AngleColumn{column_decimals(xs), 0.0f, 0.0f}
                               : n > 0 ? angle_column(r.two_theta_start, r.two_theta_step, n)
                                       : AngleColumn{};
    const int32_t places = column.decimals;
    if (!each && n > 0 && column.start != r.two_theta_start)
        ws.warn("x-y holds the angles as printed: 2theta start " +
                shortest_decimal(r.two_theta_start) + " reads back as " +
                shortest_decimal(column.start));
    if (!each && n > 1 && column.step != r.two_theta_step)
        ws.warn("x-y holds the angles, not the step: step " + shortest_decimal(r.two_theta_step) +
                " reads back as " + shortest_decimal(column.step));
    const int32_t angle_width = 4 + places;
    constexpr double kMax = std::numeric_limits<float>::max();
    const float* const intensity = r.intensity.data();
    const float* const sigma = r.sigma.data();
    int32_t replaced = 0;  // stated sigmas of 0 written as computed ones
    for (int32_t i = 0; i < n; ++i) {
        const double angle =
            each ? xs[static_cast<std::size_t>(i)] : start + static_cast<double>(i) * step;
        if (!(std::fabs(angle) <= kMax))
            return flush(), ws.fail(ConversionStatus::too_large,
                                    "2theta at point " + std::to_string(i + 1) +
                                        " is beyond single precision; no format holds it");
        const float x = static_cast<float>(angle);
        const float y = intensity[i];
        p[0] = ' ';
        p[1] = ' ';
        char* q = put_value(p + 2, x, angle_width, places);
        if (q != nullptr) {
            *q++ = ',';
            q = put_count(q, y, 10);
        }
        if (q != nullptr && choice.write_sigma) {
            // A sigma of the file keeps its digits; one computed here, three
            // decimals. A stated sigma below 0.001 (0 above all) is replaced
            // by a computed one, and the warning after the loop says so.
            *q++ = ',';
            if (sigma[i] >= 0.001f) {
                q = put_count(q, sigma[i], 10);
            } else {
                if (ws.has_sigma) ++replaced;
                q = put_value(q, y > 0.0f ? std::sqrt(y) : 1.0f, 10);
            }
        }
        if (q == nullptr)
            return flush(), ws.fail(ConversionStatus::too_large,
                                    "a value at point " + std::to_string(i + 1) +
                                        " is not a number; no format holds it");
        q[0] = '\r';
        q[1] = '\n';
        p = q + 2;
        if (static_cast<std::size_t>(p - begin) >= kBlock) flush();
    }
    flush();
    if (replaced > 0)
        ws.warn("x-y output: \u03c3 below 0.001 in " + std::string(ws.input().file_name()) +
                " written as sqrt(I) (1 where I is not above 0) for " + std::to_string(replaced) +
                " of " + std::to_string(n) + " points");
    return ConversionStatus::done;
}

}  // namespace

float xy_step_read_back(float start, float end, int32_t points, int32_t end_decimals) noexcept {
    return derived_step(start, end, points, end_decimals);
}

ConversionStatus ascii_xy_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] { return mode == CodecMode::write ? write_xy(ws) : read_xy(ws); });
}

}  // namespace qelda
