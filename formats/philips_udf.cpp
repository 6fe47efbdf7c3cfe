// Philips UDF scan files, input only. The header lines read "Keyword,value,/";
// a keyword is found anywhere in the first 60 columns of a line and its value
// is taken from the text after it up to the closing "/" ("DataAngleRange"
// holds two values, separated by a comma). The line "RawScan" ends the
// header; the counts follow, eight to a line in fields of eight columns with
// one separator column between them, and a "/" after the last count ends the
// data. The counts must match the number the angle range announces: fewer is
// refused, more are ignored with a warning.
#include <algorithm>
#include <charconv>
#include <span>
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/point_count.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr std::size_t kWorkLength = 60;
constexpr int32_t kCountsPerLine = 8;
constexpr std::size_t kCountColumns = 9;  // one I8 field and its separator

bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// Some converters write header numbers with a decimal comma ("LabdaAlpha1,
// 1,54060,/"). Read as written, the comma would end the field and leave the
// digits before it as a fraction (0.00001). When the value columns hold no
// point at all, a comma standing alone between two runs of digits is taken as
// the decimal point; nothing else changes.
void mend_decimal_comma(std::string& text) {
    if (text.find('.') != std::string::npos) return;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!is_digit(text[i])) {
            ++i;
            continue;
        }
        // A run of digits, possibly with commas between digits.
        const std::size_t run_start = i;
        std::size_t commas = 0;
        std::size_t comma_at = 0;
        while (i < text.size()) {
            if (is_digit(text[i])) {
                ++i;
            } else if (text[i] == ',' && i + 1 < text.size() && is_digit(text[i + 1])) {
                ++commas;
                comma_at = i;
                ++i;
            } else {
                break;
            }
        }
        if (commas == 1 && comma_at > run_start) text[comma_at] = '.';
    }
}

// A header number as a reason quotes it ("43.92").
std::string number_text(float v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
    return std::string(buf, res.ptr);
}

// A single value from column `first` on: everything up to the closing "/" and
// the comma before it. Fixed columns would cut values written with more digits
// ("ScanStepSize,    0.025,/" read from columns 14-21 gives 0.02).
std::string value_from(const std::string& work, std::size_t first) {
    if (first == 0) return {};
    std::string text = work.size() >= first ? work.substr(first - 1) : std::string();
    text.erase(std::min(text.find('/'), text.size()));
    text.erase(text.find_last_not_of(' ') == std::string::npos ? 0
                                                               : text.find_last_not_of(' ') + 1);
    if (!text.empty() && text.back() == ',') text.pop_back();
    mend_decimal_comma(text);
    return text;
}

// Reads a header value. One that is not a number stops the read with the
// input conversion error report; the reason names the line and the keyword.
void header_value(Workspace& ws, const std::string& text, const Layout& layout, float& target,
                  std::string_view keyword, int32_t line) {
    if (read_text(text, layout, {target}) == Outcome::done) return;
    const std::string file(ws.input().file_name());
    const auto first = text.find_first_not_of(' ');
    const std::string value = first == std::string::npos
                                  ? std::string()
                                  : text.substr(first, text.find_last_not_of(' ') + 1 - first);
    ws.failure_reason = file + ", line " + std::to_string(line) + ": '" + value.substr(0, 40) +
                        "' is not a number (" + std::string(keyword) + ")";
    throw IoAbort{conversion_error_report(InputUnit::kNumber, file)};
}

// The two values of "DataAngleRange", start and end: the text after the
// keyword's comma, up to the "/", split at the commas. Both must be there.
bool angle_range(Workspace& ws, const std::string& work, std::size_t keyword, float& start,
                 float& end, int32_t line) {
    static const Layout kValue("(F60.0)");  // whole numbers as written
    std::string text = work.substr(keyword);
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    text.erase(0, comma + 1);
    text.erase(std::min(text.find('/'), text.size()));
    mend_decimal_comma(text);
    float values[2] = {0.0f, 0.0f};
    int found = 0;
    std::size_t pos = 0;
    while (pos <= text.size() && found <= 2) {
        const std::size_t next = std::min(text.find(',', pos), text.size());
        const std::string field = text.substr(pos, next - pos);
        pos = next + 1;
        if (field.find_first_not_of(' ') == std::string::npos) continue;
        if (found == 2) return false;  // a third value
        header_value(ws, field, kValue, values[found], "DataAngleRange", line);
        ++found;
    }
    if (found != 2) return false;
    start = values[0];
    end = values[1];
    return true;
}

// `title` = columns 13 up to two before the first "/", so that the comma
// before it is left out; all blank when there is no "/" or nothing lies there.
void read_title(PowderPattern& r, const std::string& work) {
    const std::size_t slash = work.find('/');  // 0-based: column slash + 1
    if (slash == std::string::npos || slash + 1 <= 14) {
        r.set_title("");
        return;
    }
    r.set_title(std::string_view(work).substr(12, slash - 13));
}

// The counts of a count line: as many as it has fields up to its last
// non-blank column before the "/" or DOS end-of-file mark that ends the data.
struct CountLine {
    std::string_view counts;
    std::size_t present = 0;
    bool ends_data = false;
};

CountLine split_count_line(std::string_view line) {
    CountLine c;
    const std::size_t mark = line.find_first_of("/\x1a");
    c.ends_data = mark != std::string_view::npos;
    c.counts = c.ends_data ? line.substr(0, mark) : line;
    const std::size_t last = c.counts.find_last_not_of(" \t,");
    c.present = last == std::string_view::npos ? 0 : last / kCountColumns + 1;
    return c;
}

// Reads the next count line into `dest` (n counts, 1..8); `got` counts the
// points read so far. Fewer counts than n, before the data end or the file
// does, is a failure that says how many the file holds.
ConversionStatus read_count_line(Workspace& ws, float* dest, int32_t n, int32_t line_no,
                                 int32_t& got, CountLine& c) {
    static const Layout kCounts("(7(I8,1X),I8)");
    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    const std::string file(in.file_name());
    std::string_view line;
    if (!in.next_line(line))
        return ws.fail(ConversionStatus::premature_end,
                       file + " ends after " + std::to_string(got) + " of the " +
                           std::to_string(r.point_count) + " counts that its header announces");
    c = split_count_line(line);
    if (c.present < static_cast<std::size_t>(n)) {
        const auto holds = got + static_cast<int32_t>(c.present);
        const bool data_end = c.ends_data;
        r.lines_read = line_no;
        return ws.fail(data_end ? ConversionStatus::record_error : ConversionStatus::premature_end,
                       file + ", line " + std::to_string(line_no) + ": " +
                           (data_end ? "the counts end" : "the line ends") + " after count " +
                           std::to_string(holds) + ", but the angle range of the header (" +
                           number_text(r.two_theta_start) + " to " + number_text(r.two_theta_end) +
                           " by " + number_text(r.two_theta_step) + ") announces " +
                           std::to_string(r.point_count));
    }
    const std::span<float> counts(dest, static_cast<std::size_t>(n));
    if (read_text(c.counts, kCounts, {counts}) != Outcome::done) {
        r.lines_read = line_no;
        return ws.fail(ConversionStatus::record_error,
                       file + ", line " + std::to_string(line_no) + ": " + in.problem());
    }
    got += n;
    return ConversionStatus::done;
}

// The column after the comma that follows `keyword` ("ScanStepTime,12.5" gives
// the column of "1"); `fixed` when the keyword has no comma after it. A value
// read from a fixed column would lose its first digit where the file puts none
// of the usual blanks after the comma.
std::size_t column_after_comma(const std::string& work, std::string_view keyword,
                               std::size_t fixed) {
    const std::size_t at = work.find(keyword);
    if (at == std::string::npos) return fixed;
    const std::size_t comma = work.find_first_not_of(' ', at + keyword.size());
    if (comma == std::string::npos || work[comma] != ',') return fixed;
    return comma + 2;  // 1-based column after the comma
}

ConversionStatus read_udf(Workspace& ws) {
    static const Layout kLine("(A60)");
    // Values are read as written: one without a point is a whole number
    // ("ScanStepTime, 1,/" is 1 s), not one of implied decimals.
    static const Layout kValue("(F60.0)");

    PowderPattern& r = ws.record();
    InputUnit& in = ws.input();
    std::string work;
    work.reserve(kWorkLength);
    // Whether this file gave the angle range and the step: a header without
    // them must not be read with the values of an earlier conversion.
    bool have_range = false;
    bool have_step = false;
    int32_t header_lines = 0;

    auto has = [&work](std::string_view keyword) {
        return work.find(keyword) != std::string::npos;
    };
    for (;;) {
        switch (read_record(in, kLine, {TextRef{work, kWorkLength}})) {
            case Outcome::done:
                break;
            case Outcome::end_of_file:
                return ConversionStatus::premature_end;
            case Outcome::error:
                return ConversionStatus::record_error;
        }
        ++header_lines;
        if (has("SampleIdent,")) {
            read_title(r, work);
        } else if (has("ScanStepSize,")) {
            header_value(ws, value_from(work, column_after_comma(work, "ScanStepSize", 14)), kValue,
                         r.two_theta_step, "ScanStepSize", header_lines);
            have_step = true;
        } else if (has("DataAngleRange")) {
            if (!angle_range(ws, work, work.find("DataAngleRange"), r.two_theta_start,
                             r.two_theta_end, header_lines)) {
                r.lines_read = header_lines;
                return ws.fail(ConversionStatus::record_error,
                               std::string(in.file_name()) + ", line " +
                                   std::to_string(header_lines) +
                                   ": DataAngleRange holds no start and end");
            }
            have_range = true;
        } else if (has("ScanStepSize")) {
            header_value(ws, value_from(work, 15), kValue, r.two_theta_step, "ScanStepSize",
                         header_lines);
            have_step = true;
        } else if (has("ScanStepTime")) {
            header_value(ws, value_from(work, column_after_comma(work, "ScanStepTime", 15)), kValue,
                         r.count_time, "ScanStepTime", header_lines);
        } else if (has("LabdaAlpha1")) {
            header_value(ws, value_from(work, column_after_comma(work, "LabdaAlpha1", 13)), kValue,
                         r.lambda1, "LabdaAlpha1", header_lines);
        } else if (has("LabdaAlpha2")) {
            header_value(ws, value_from(work, column_after_comma(work, "LabdaAlpha2", 13)), kValue,
                         r.lambda2, "LabdaAlpha2", header_lines);
        } else if (has("RatioAlpha21")) {
            header_value(ws, value_from(work, column_after_comma(work, "RatioAlpha21", 14)), kValue,
                         r.alpha_ratio, "RatioAlpha21", header_lines);
        } else if (has("RawScan")) {
            break;
        }
    }

    // The number of points follows from the angles alone, so they must be
    // there and make sense; the report then names the "RawScan" line.
    const int32_t count =
        have_range && have_step && r.two_theta_step > 0.0f
            ? derived_point_count(r.two_theta_start, r.two_theta_end, r.two_theta_step)
            : 0;
    if (count < 1) {
        r.lines_read = header_lines;
        const std::string file(in.file_name());
        if (!have_range || !have_step)
            return ws.fail(ConversionStatus::record_error,
                           file + ": the header ends (line " + std::to_string(header_lines) +
                               ") without " + (have_range ? "ScanStepSize" : "DataAngleRange"));
        return ws.fail(ConversionStatus::record_error,
                       file + ": the angle range " + number_text(r.two_theta_start) + " to " +
                           number_text(r.two_theta_end) + " by " + number_text(r.two_theta_step) +
                           " gives no points");
    }
    r.point_count = count;
    if (count > r.max_points) return ConversionStatus::too_many_points;
    if (r.lambda2 == 0.0f) r.alpha_ratio = 0.0f;

    const int32_t full_lines = count / kCountsPerLine;
    r.lines_read = full_lines;
    float* const counts = r.intensity.data();
    int32_t got = 0;
    int32_t line_no = header_lines;
    CountLine c;
    for (int32_t k = 0; k < full_lines; ++k) {
        const ConversionStatus s =
            read_count_line(ws, counts + k * kCountsPerLine, kCountsPerLine, ++line_no, got, c);
        if (s != ConversionStatus::done) return s;
    }
    // A last, partly filled line; when the count is a multiple of eight the
    // last full line was the end and nothing further is needed.
    const int32_t rest = count - full_lines * kCountsPerLine;
    if (rest > 0) {
        const ConversionStatus s =
            read_count_line(ws, counts + full_lines * kCountsPerLine, rest, ++line_no, got, c);
        if (s != ConversionStatus::done) return s;
    }
    // Counts after the announced ones, up to the end of the data.
    std::size_t more = c.present - static_cast<std::size_t>(rest > 0 ? rest : kCountsPerLine);
    std::string_view line;
    while (!c.ends_data && in.next_line(line)) {
        c = split_count_line(line);
        more += c.present;
    }
    if (more > 0)
        ws.warn(std::string(in.file_name()) + " holds " + std::to_string(more) +
                " counts after the " + std::to_string(count) +
                " that its angle range announces; ignored");
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus philips_udf_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_udf(ws);
    });
}

}  // namespace qelda
