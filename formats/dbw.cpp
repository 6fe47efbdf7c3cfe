// DBW step-scan data: one header record with the angular range and the title,
// then the counts. Two forms are read:
//
//   fixed (our own files)
//     header  (3F8.3,2X,A50)       start, step, end (in that order), title
//     data    (I7,7I8,1X,F8.3)     eight counts and an angle label (written only)
//   free (other refinement programs)
//     header  start, step and end as blank-separated numbers of any width; the
//             title is the rest of the line
//     data    blank-separated numbers, often ten to a line, sometimes with
//             decimals, up to the point count the header implies
//
// The fixed form is recognised by its header (each of the three 8-column
// fields holds one number with its point) together with its first data record
// (integers right-aligned in the I7,7I8 fields); anything else is read as
// free numbers. Some programs write a record of sigmas after each record of
// intensities; that form (twice the announced numbers, in pairs of lines of
// the same length) reads the sigmas as well. The writer writes the fixed form:
// full records first, then a last record with the remaining points followed by
// zeros. The file holds no wavelengths (the reader asks for them).
#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/fields.h"
#include "core/point_count.h"
#include "core/prompts.h"
#include "formats/codecs.h"
#include "formats/read_reason.h"

namespace qelda {
namespace {

constexpr int32_t kPerRecord = 8;

// Start, step and end, then the first 50 characters of the title.
const Layout& header_layout() {
    static const Layout kHeader("(3F8.3,2X,A50)");
    return kHeader;
}

bool is_separator(char c) noexcept {
    return c == ' ' || c == '\t' || c == ',';
}

// The blank-separated words of a line, each with its first column (0-based).
struct Word {
    std::string_view text;
    std::size_t column;
};

template <typename F>
void for_each_word(std::string_view line, F&& f) {
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && is_separator(line[pos])) ++pos;
        if (pos == line.size()) break;
        const std::size_t start = pos;
        while (pos < line.size() && !is_separator(line[pos])) ++pos;
        if (!f(Word{line.substr(start, pos - start), start})) return;
    }
}

bool parse_number(std::string_view text, double& value) noexcept {
    return parse_real_field(text, 0, value) == FieldError::none && std::isfinite(value) &&
           std::fabs(value) <= 3.4e38;
}

bool is_integer_text(std::string_view t) noexcept {
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Each of columns 1-8, 9-16, 17-24 holds one number with its point.
bool is_fixed_header(std::string_view line) {
    if (line.size() < 24) return false;
    for (std::size_t f = 0; f < 3; ++f) {
        int words = 0;
        bool ok = true;
        for_each_word(line.substr(8 * f, 8), [&](Word w) {
            double v = 0.0;
            ok = ok && w.text.find('.') != std::string_view::npos && parse_number(w.text, v);
            return ++words <= 1;
        });
        if (words != 1 || !ok) return false;
    }
    return true;
}

// Every word before column 64 is an integer that ends where its I7 or I8 field
// ends (columns 7, 15, ..., 63) and starts within that field.
bool is_fixed_record(std::string_view line) {
    const std::string_view counts = line.substr(0, std::min<std::size_t>(line.size(), 63));
    bool ok = true;
    int words = 0;
    for_each_word(counts, [&](Word w) {
        const std::size_t last = w.column + w.text.size();  // 1-based last column
        const bool field_end = last == 7 || (last > 7 && (last - 7) % 8 == 0);
        const std::size_t field_first = last == 7 ? 1 : last - 7;
        ok = is_integer_text(w.text) && field_end && w.column + 1 >= field_first;
        ++words;
        return ok;
    });
    return ok && words > 0;
}

std::string fmt_number(double v) {
    std::string out = fixed_digits(v, 4);
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

// The fixed form, as our writer writes it.
ConversionStatus read_fixed_counts(Workspace& ws) {
    // Columns 64 onwards (the writer's angle label) are ignored.
    static const Layout kCounts("(I7,7I8)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
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
        ++records;
    }
    std::string_view line;
    int32_t more = 0;
    while (in.next_line(line))
        if (line.find_first_not_of(" \t\x1a") != std::string_view::npos) ++more;
    if (more > 0)
        ws.warn(std::string(in.file_name()) + " holds " + std::to_string(more) +
                " more lines after its " + std::to_string(r.point_count) + " points; ignored");
    return ConversionStatus::done;
}

// The free form: numbers up to the announced count, then a look at what
// follows. Exactly twice the count, in pairs of lines of equal length, is a
// record of intensities followed by a record of their sigmas.
ConversionStatus read_free_counts(Workspace& ws) {
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    const std::string file(in.file_name());
    const auto n = static_cast<std::size_t>(r.point_count);
    std::vector<float> values;
    values.reserve(n);
    std::vector<int32_t> per_line;  // the numbers of each data line
    std::size_t beyond_pairs = 0;   // numbers past twice the count
    int32_t line_no = 1;
    std::string_view line;
    while (in.next_line(line)) {
        ++line_no;
        int32_t on_line = 0;
        std::string bad;
        for_each_word(line, [&](Word w) {
            if (w.text == "\x1a") return false;  // a DOS end-of-file mark
            double v = 0.0;
            if (!parse_number(w.text, v)) {
                bad = std::string(w.text.substr(0, 40));
                return false;
            }
            ++on_line;
            if (values.size() < 2 * n)
                values.push_back(static_cast<float>(v));
            else
                ++beyond_pairs;
            return true;
        });
        if (!bad.empty()) {
            if (values.size() < n) {
                r.lines_read = line_no - 1;
                return ws.fail(ConversionStatus::record_error,
                               file + ", line " + std::to_string(line_no) + ": '" + bad +
                                   "' is not a number; count " + std::to_string(values.size() + 1) +
                                   " of " + std::to_string(n) + " was expected");
            }
            break;  // text after the counts ends them
        }
        // Past twice the count the pairs are out of question: only counted.
        if (on_line > 0 && beyond_pairs == 0) per_line.push_back(on_line);
    }
    if (values.size() < n) {
        r.lines_read = line_no;
        return ws.fail(ConversionStatus::premature_end,
                       file + " ends after " + std::to_string(values.size()) + " of the " +
                           std::to_string(n) + " counts that its header announces (start " +
                           fmt_number(r.two_theta_start) + ", step " +
                           fmt_number(r.two_theta_step) + ", end " + fmt_number(r.two_theta_end) +
                           ")");
    }
    std::copy_n(values.begin(), n, r.intensity.data());
    const std::size_t extra = values.size() - n + beyond_pairs;
    if (extra == 0) return ConversionStatus::done;
    if (extra == n) {
        // Pairs of lines: intensities, then as many sigmas.
        bool pairs = per_line.size() % 2 == 0;
        for (std::size_t k = 0; pairs && k < per_line.size(); k += 2)
            pairs = per_line[k] == per_line[k + 1];
        std::size_t at = 0, point = 0;
        for (std::size_t k = 0; pairs && k < per_line.size(); k += 2) {
            for (int32_t j = 0; j < per_line[k]; ++j) {
                const float sigma = values[at + static_cast<std::size_t>(per_line[k] + j)];
                pairs = pairs && sigma >= 0.0f;
                r.intensity.data()[point] = values[at + static_cast<std::size_t>(j)];
                r.sigma.data()[point] = sigma;
                ++point;
            }
            at += 2 * static_cast<std::size_t>(per_line[k]);
        }
        if (!pairs) {
            r.lines_read = 1;
            return ws.fail(ConversionStatus::record_error,
                           file + " holds " + std::to_string(2 * n) + " numbers for the " +
                               std::to_string(n) +
                               " points its header announces, not in pairs of lines of "
                               "intensities and sigmas: their order is unknown");
        }
        ws.warn(file + " holds a line of sigmas after each line of intensities; both read");
        return ConversionStatus::done;
    }
    ws.warn(file + " holds " + std::to_string(extra) + " numbers after its " + std::to_string(n) +
            " counts; ignored");
    return ConversionStatus::done;
}

ConversionStatus read_dbw(Workspace& ws) {
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    const std::string file(in.file_name());

    std::string_view head;
    if (!in.next_line(head)) return ws.fail(ConversionStatus::premature_end, file + " is empty");
    const std::string header(head);
    const std::size_t after_header = in.position();
    std::string_view first_record;
    while (in.next_line(first_record) &&
           first_record.find_first_not_of(" \t") == std::string_view::npos) {
    }
    const bool fixed = is_fixed_header(header) &&
                       (in.position() == after_header || is_fixed_record(first_record) ||
                        first_record.find_first_not_of(" \t") == std::string_view::npos);
    in.set_position(after_header);

    if (fixed) {
        const Outcome o = read_text(
            header, header_layout(),
            {r.two_theta_start, r.two_theta_step, r.two_theta_end, TextRef{r.title, kTitleLength}});
        if (o != Outcome::done) {
            r.lines_read = 0;
            return read_failure_status(o);
        }
    } else {
        double v[3] = {0.0, 0.0, 0.0};
        int found = 0;
        std::size_t title_at = header.size();
        std::string bad;
        for_each_word(header, [&](Word w) {
            if (!parse_number(w.text, v[found])) {
                bad = std::string(w.text.substr(0, 40));
                return false;
            }
            title_at = w.column + w.text.size();
            return ++found < 3;
        });
        if (found < 3) {
            r.lines_read = 0;
            return ws.fail(
                ConversionStatus::not_available,
                file + ", line 1: " +
                    (bad.empty() ? std::string("the line ends") : "'" + bad + "' is not a number") +
                    " where the start, step and end of a DBW scan are expected: not "
                    "a DBW file");
        }
        r.two_theta_start = static_cast<float>(v[0]);
        r.two_theta_step = static_cast<float>(v[1]);
        r.two_theta_end = static_cast<float>(v[2]);
        std::string_view title = std::string_view(header).substr(title_at);
        const auto first = title.find_first_not_of(" \t");
        r.set_title(first == std::string_view::npos ? std::string_view() : title.substr(first));
    }
    r.count_time = 0.0f;
    // Keeps the last point where single precision puts the quotient just below
    // a whole number (5 to 100 by 0.05).
    r.point_count = derived_point_count(r.two_theta_start, r.two_theta_end, r.two_theta_step);
    if (r.point_count > std::min(r.max_points, kPointCapacity))
        return ConversionStatus::too_many_points;
    if (r.point_count < 1) {
        r.lines_read = 0;
        return ws.fail(ConversionStatus::record_error,
                       file + ", line 1: start " + fmt_number(r.two_theta_start) + ", step " +
                           fmt_number(r.two_theta_step) + " and end " +
                           fmt_number(r.two_theta_end) + " give no points");
    }

    ask_wavelengths(ws);
    return fixed ? read_fixed_counts(ws) : read_free_counts(ws);
}

ConversionStatus write_dbw(Workspace& ws) {
    // Each intensity is rounded to a whole count first (the I fields would
    // truncate it); a count that does not fit its field is refused naming it.
    static const Layout kCounts("(I7,7I8,1X,F8.3)");
    static const Layout kRange("(3F8.3)");
    const PowderPattern& r = ws.record();
    OutputUnit& out = ws.output();
    const int32_t n = r.point_count;
    if (n > kPointCapacity) return ConversionStatus::too_large;
    // Refinement programs take a DBW scan as ascending.
    if (n > 1 && r.two_theta_step < 0.0f)
        return ws.fail(ConversionStatus::too_large, std::string(out.file_name()) +
                                                        ": the scan descends (step " +
                                                        fmt_number(r.two_theta_step) +
                                                        "); a DBW file holds ascending scans only");

    const Values header = {r.two_theta_start, r.two_theta_step, r.two_theta_end, r.title};
    const TextResult line = write_line(header_layout(), header);
    const std::string holders = "; x-y, xye or cif can hold it";
    if (line.overflow)
        return ws.fail(ConversionStatus::too_large,
                       "2theta start " + value_text(r.two_theta_start) + ", step " +
                           value_text(r.two_theta_step) + " or end " + value_text(r.two_theta_end) +
                           " does not fit DBW's F8.3 header" + holders);
    if (n > 0) {
        // Three decimals must still give every point when the file is read
        // back; a finer step or an end that does not match the points would
        // silently drop or invent points.
        float start = 0.0f, step = 0.0f, end = 0.0f;
        if (read_text(line.text, kRange, {start, step, end}) != Outcome::done ||
            derived_point_count(start, end, step) != n)
            return ws.fail(ConversionStatus::too_large,
                           "step " + value_text(r.two_theta_step) + " from " +
                               value_text(r.two_theta_start) +
                               " does not give the same points from DBW's F8.3 header" + holders);
        // The same points, but angles of more decimals than the header holds.
        std::string moved;
        if (start != r.two_theta_start)
            moved += "2theta start " + value_text(r.two_theta_start) + " written as " +
                     fixed_digits(start, 3);
        if (step != r.two_theta_step)
            moved += (moved.empty() ? "step " : ", step ") + value_text(r.two_theta_step) + " as " +
                     fixed_digits(step, 3);
        if (!moved.empty()) ws.warn("DBW's header holds three decimals: " + moved);
    }
    // The header holds 50 characters of the title.
    constexpr std::size_t kTitleField = 50;
    if (trim_right(r.title).size() > kTitleField)
        ws.warn("title cut to " + std::to_string(kTitleField) + " characters");
    // Whole counts, and where they fit.
    std::vector<float> whole(static_cast<std::size_t>(std::max(n, 0)));
    RoundingTally tally;
    for (int32_t i = 0; i < n; ++i) {
        const double c = tally.take(r.intensity.data()[i], ws.intensity_shift);
        // The first field of a record has seven columns, the others eight.
        const double limit = i % kPerRecord == 0 ? 1e7 : 1e8;
        if (!(c < limit && c > -limit / 10))
            return ws.fail(ConversionStatus::too_large,
                           "count " + value_text(r.intensity.data()[i]) + " at point " +
                               std::to_string(i + 1) + " does not fit DBW's " +
                               (i % kPerRecord == 0 ? "seven" : "eight") + " columns" + holders);
        whole[static_cast<std::size_t>(i)] = static_cast<float>(c);
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
    const float* intensity = whole.data();
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
    if (out.overflowed()) return ConversionStatus::too_large;
    if (const std::string w = tally.warning("DBW"); !w.empty()) ws.warn(w);
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus dbw_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? write_dbw(ws) : with_line_reason(ws, read_dbw(ws));
    });
}

}  // namespace qelda
