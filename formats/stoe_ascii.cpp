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
// none; reading ends after the counts. Read only.
#include <algorithm>
#include <array>
#include <string_view>

#include "core/codec_guard.h"
#include "formats/codecs.h"

namespace qelda {
namespace {

constexpr std::size_t kWorkLength = 60;
constexpr std::size_t kTitleColumn = 10;       // the title always starts here
constexpr std::size_t kWavelengthOffset = 12;  // from the marker to its field
constexpr std::size_t kWavelengthField = 10;
constexpr std::size_t kCountsPerLine = 10;

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
        Outcome::done)
        throw IoAbort{conversion_error_report(InputUnit::kNumber, ws.input().file_name())};
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

    std::string work(kWorkLength, ' ');
    int32_t count_line = 0;  // the line that gave point_count; 0 before a range block
    while (true) {
        if (!read(kWork, {TextRef{work, kWorkLength}})) return read_failure_status(o);
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
        return ConversionStatus::record_error;
    }
    if (r.point_count < 1) {
        r.lines_read = count_line - 1;
        return ConversionStatus::record_error;
    }

    if (!read(kSkip, {})) return read_failure_status(o);
    std::array<float, kCountsPerLine> counts{};
    for (int32_t i = 0; i < r.point_count; i += static_cast<int32_t>(kCountsPerLine)) {
        if (!read(kCounts, {std::span<float>(counts)})) return read_failure_status(o);
        // Counts after point_count on the last line are dropped.
        const auto keep =
            std::min<int32_t>(static_cast<int32_t>(kCountsPerLine), r.point_count - i);
        std::copy_n(counts.begin(), keep, r.intensity.data() + i);
    }
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus stoe_ascii_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_stoe_ascii(ws);
    });
}

}  // namespace qelda
