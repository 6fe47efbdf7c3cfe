// Stoe ASCII export: not parsed as a whole. Each line is read as a 60-column
// work line and tested, in this order, for the marker words
//
//   "Title"        the title, from column 10 to the first run of three blanks
//   "Wavelength"   lambda1 in the ten columns from two after the word (F9.6)
//   "Range 1"      five lines: angles on the 2nd (33X,3F9.3), count time and
//                  number of points on the 5th (17X,F7.1,33X,I6)
//   "Intensities"  one line skipped, then ten counts a line (9X,10I7)
//
// A line is handled by the first marker it contains and skipped when it holds
// none; reading ends after the counts. A file without the "Range 1" and
// "Intensities" markers is not such an export. The number of points must
// agree with the range (start, end, step) and with the counts present: a
// count field left blank within the points is refused, counts after them are
// ignored with a warning. Read only.
#include <algorithm>
#include <array>
#include <string_view>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "core/point_count.h"
#include "formats/codecs.h"
#include "formats/read_reason.h"

namespace qelda {
namespace {

constexpr std::size_t kWorkLength = 60;
constexpr std::size_t kTitleColumn = 10;       // the title always starts here
constexpr std::size_t kWavelengthOffset = 12;  // from the marker to its field
constexpr std::size_t kWavelengthField = 10;
constexpr std::size_t kCountsPerLine = 10;
constexpr std::size_t kCountsColumn = 10;  // the first count field starts here
constexpr std::size_t kCountWidth = 7;

// Whether count field k (0-based) of a count line holds anything.
bool field_filled(std::string_view line, std::size_t k) {
    const std::size_t first = kCountsColumn - 1 + k * kCountWidth;
    if (first >= line.size()) return false;
    return line.substr(first, kCountWidth).find_first_not_of(" \t") != std::string_view::npos;
}

std::string number_text(float v) {
    std::string out = fixed_digits(v, 4);
    while (out.size() > 1 && out.back() == '0') out.pop_back();
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

// The title: columns 10 up to where the first run of three blanks begins; all
// blank when that run begins before column 10 or there is none.
void take_title(PowderPattern& r, std::string_view work) {
    const auto run = work.find("   ");
    if (run == std::string_view::npos || run + 1 < kTitleColumn) {
        r.set_title({});
        return;
    }
    r.set_title(work.substr(kTitleColumn - 1, run + 2 - kTitleColumn));
}

// lambda1 from the ten columns that start two after the end of "Wavelength";
// columns past the work line are blanks. The field is read without outcomes.
void take_wavelength(Workspace& ws, std::string_view work, std::size_t marker) {
    static const Layout kLambda("(F9.6)");
    std::array<char, kWavelengthField> field;
    field.fill(' ');
    const std::size_t first = marker + kWavelengthOffset;
    if (first < work.size())
        work.copy(field.data(), std::min(kWavelengthField, work.size() - first), first);
    PowderPattern& r = ws.record();
    if (read_text(std::string_view(field.data(), field.size()), kLambda, {r.lambda1}) !=
        Outcome::done) {
        std::string value(field.data(), field.size());
        value.erase(value.find_last_not_of(' ') + 1);
        ws.failure_reason = std::string(ws.input().file_name()) + ", line " +
                            std::to_string(r.lines_read) + ": '" + value +
                            "' after 'Wavelength' is not a number";
        throw IoAbort{conversion_error_report(InputUnit::kNumber, ws.input().file_name())};
    }
    r.lambda2 = 0.0f;
    r.alpha_ratio = 0.0f;
}

ConversionStatus read_stoe_ascii(Workspace& ws) {
    static const Layout kWork("(A60)");
    static const Layout kSkip("(1X)");
    static const Layout kAngles("(33X,3F9.3)");
    static const Layout kTimeAndCount("(17X,F7.1,33X,I6)");
    static const Layout kCounts("(9X,10I7)");

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
    std::string work(kWorkLength, ' ');
    int32_t count_line = 0;  // the line that gave point_count; 0 before a range block
    while (true) {
        if (!read(kWork, {TextRef{work, kWorkLength}})) {
            if (o == Outcome::end_of_file && count_line == 0)
                return ws.fail(ConversionStatus::not_available,
                               file +
                                   " has no 'Range 1' or 'Intensities' line: not a Stoe ASCII "
                                   "export");
            if (o == Outcome::end_of_file)
                return ws.fail(ConversionStatus::premature_end,
                               file + " ends without its 'Intensities' line");
            return read_failure_status(o);
        }
        const std::string_view line(work);
        if (line.find("Title") != std::string_view::npos) {
            take_title(r, line);
        } else if (const auto w = line.find("Wavelength"); w != std::string_view::npos) {
            take_wavelength(ws, line, w);
        } else if (line.find("Range 1") != std::string_view::npos) {
            if (!read(kSkip, {}) ||
                !read(kAngles, {r.two_theta_start, r.two_theta_end, r.two_theta_step}) ||
                !read(kSkip, {}) || !read(kSkip, {}) ||
                !read(kTimeAndCount, {r.count_time, r.point_count}))
                return read_failure_status(o);
            count_line = r.lines_read;
            if (r.point_count > std::min(r.max_points, kPointCapacity))
                return ConversionStatus::too_many_points;
        } else if (line.find("Intensities") != std::string_view::npos) {
            break;
        }
    }

    // The counts need a range block of this file that announces points: never
    // the count of an earlier dataset, and never an empty scan taken as read.
    if (count_line == 0) {
        r.lines_read -= 1;  // the error lies in the "Intensities" line itself
        return ws.fail(ConversionStatus::record_error,
                       file + ", line " + std::to_string(r.lines_read + 1) +
                           ": 'Intensities' before any 'Range 1' block: the number of points is "
                           "unknown");
    }
    const int32_t implied =
        derived_point_count(r.two_theta_start, r.two_theta_end, r.two_theta_step);
    if (r.point_count < 1 || implied != r.point_count) {
        r.lines_read = count_line - 1;
        return ws.fail(ConversionStatus::record_error,
                       file + ", line " + std::to_string(count_line) + ": " +
                           std::to_string(r.point_count) + " points, but the range " +
                           number_text(r.two_theta_start) + " to " + number_text(r.two_theta_end) +
                           " by " + number_text(r.two_theta_step) + " holds " +
                           std::to_string(implied));
    }

    if (!read(kSkip, {})) return read_failure_status(o);
    std::array<float, kCountsPerLine> counts{};
    std::string_view line;
    for (int32_t i = 0; i < r.point_count; i += static_cast<int32_t>(kCountsPerLine)) {
        const auto keep =
            std::min<int32_t>(static_cast<int32_t>(kCountsPerLine), r.point_count - i);
        int32_t more = 0;  // counts after point_count on the last line, ignored
        if (in.next_line(line)) {
            for (auto k = static_cast<std::size_t>(keep); k < kCountsPerLine; ++k)
                more += field_filled(line, k) ? 1 : 0;
            for (int32_t k = 0; k < keep; ++k)
                if (!field_filled(line, static_cast<std::size_t>(k))) {
                    r.lines_read += 1;
                    return ws.fail(ConversionStatus::record_error,
                                   file + ", line " + std::to_string(r.lines_read) +
                                       ": the counts end after count " + std::to_string(i + k) +
                                       " of the " + std::to_string(r.point_count) +
                                       " that the range announces");
                }
            in.backspace();
        }
        if (!read(kCounts, {std::span<float>(counts)})) {
            if (o == Outcome::end_of_file)
                return ws.fail(ConversionStatus::premature_end,
                               file + " ends after count " + std::to_string(i) + " of the " +
                                   std::to_string(r.point_count) + " that the range announces");
            return read_failure_status(o);
        }
        std::copy_n(counts.begin(), keep, r.intensity.data() + i);
        if (more > 0)
            ws.warn(file + " holds " + std::to_string(more) + " counts after the " +
                    std::to_string(r.point_count) + " that the range announces; ignored");
    }
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus stoe_ascii_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available
                                        : with_line_reason(ws, read_stoe_ascii(ws));
    });
}

}  // namespace qelda
