// Philips UDF scan files, input only. The header lines read "Keyword,value,/";
// a keyword is found anywhere in the first 60 columns of a line and its value
// is taken from fixed columns counted from the start of the line. The line
// "RawScan" ends the header; the counts follow, eight to a line in fields of
// eight columns with one separator column between them, and a "/" after the
// last count ends the data.
#include <algorithm>
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

// The value columns first..last (1-based, inclusive) of the work line.
std::string value_columns(const std::string& work, std::size_t first, std::size_t last) {
    std::string text = work.substr(first - 1, last - first + 1);
    mend_decimal_comma(text);
    return text;
}

// A single value from column `first` on: everything up to the closing "/" and
// the comma before it. Fixed columns would cut values written with more digits
// ("ScanStepSize,    0.025,/" read from columns 14-21 gives 0.02).
std::string value_from(const std::string& work, std::size_t first) {
    std::string text = work.size() >= first ? work.substr(first - 1) : std::string();
    text.erase(std::min(text.find('/'), text.size()));
    text.erase(text.find_last_not_of(' ') == std::string::npos ? 0
                                                               : text.find_last_not_of(' ') + 1);
    if (!text.empty() && text.back() == ',') text.pop_back();
    mend_decimal_comma(text);
    return text;
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

// Reads the next count line into `dest` (n counts, 1..8). The counts end at a
// "/" or at a DOS end-of-file character; a line holds as many counts as it has
// fields up to its last non-blank column before that mark. When fewer than n
// remain, the file holds fewer counts than its header announces.
ConversionStatus read_count_line(InputUnit& in, float* dest, int32_t n) {
    static const Layout kCounts("(7(I8,1X),I8)");
    std::string_view line;
    if (!in.next_line(line)) return ConversionStatus::premature_end;
    const std::size_t mark = line.find_first_of("/\x1a");
    if (mark != std::string_view::npos) line = line.substr(0, mark);
    const std::size_t last = line.find_last_not_of(" \t");
    const std::size_t present = last == std::string_view::npos ? 0 : last / kCountColumns + 1;
    if (present < static_cast<std::size_t>(n)) return ConversionStatus::premature_end;
    const std::span<float> counts(dest, static_cast<std::size_t>(n));
    if (read_text(line, kCounts, {counts}) != Outcome::done) return ConversionStatus::record_error;
    return ConversionStatus::done;
}

ConversionStatus read_udf(Workspace& ws) {
    static const Layout kLine("(A60)");
    static const Layout kStepAfterComma("(F60.3)");
    static const Layout kRange("(F9.4,1X,F9.4)");
    static const Layout kShortValue("(F60.3)");
    static const Layout kWavelength("(F60.5)");

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
            read_text_or_abort(value_from(work, 14), kStepAfterComma, {r.two_theta_step});
            have_step = true;
        } else if (has("DataAngleRange")) {
            read_text_or_abort(value_columns(work, 16, 34), kRange,
                               {r.two_theta_start, r.two_theta_end});
            have_range = true;
        } else if (has("ScanStepSize")) {
            read_text_or_abort(value_from(work, 15), kShortValue, {r.two_theta_step});
            have_step = true;
        } else if (has("ScanStepTime")) {
            read_text_or_abort(value_from(work, 15), kShortValue, {r.count_time});
        } else if (has("LabdaAlpha1")) {
            read_text_or_abort(value_from(work, 13), kWavelength, {r.lambda1});
        } else if (has("LabdaAlpha2")) {
            read_text_or_abort(value_from(work, 13), kWavelength, {r.lambda2});
        } else if (has("RatioAlpha21")) {
            read_text_or_abort(value_from(work, 14), kWavelength, {r.alpha_ratio});
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
        return ConversionStatus::record_error;
    }
    r.point_count = count;
    if (count > r.max_points) return ConversionStatus::too_many_points;
    if (r.lambda2 == 0.0f) r.alpha_ratio = 0.0f;

    const int32_t full_lines = count / kCountsPerLine;
    r.lines_read = full_lines;
    float* const counts = r.intensity.data();
    for (int32_t k = 0; k < full_lines; ++k) {
        const ConversionStatus s = read_count_line(in, counts + k * kCountsPerLine, kCountsPerLine);
        if (s != ConversionStatus::done) return s;
    }
    // A last, partly filled line; when the count is a multiple of eight the
    // last full line was the end and nothing further is needed.
    const int32_t rest = count - full_lines * kCountsPerLine;
    if (rest > 0) return read_count_line(in, counts + full_lines * kCountsPerLine, rest);
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus philips_udf_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_udf(ws);
    });
}

}  // namespace qelda
