// Step scans of the Riet7 / LHPM / CSRIET kind (.dat), read only: one or more
// title lines, then a line opening with start, step and end, then the counts,
// any number of them a line, in 2theta order. Old files end their lines with
// CR alone.
//
//   Quartz, Cu K-alpha, 40 kV                  title (up to five lines)
//     10.000    0.020  100.000                  start, step, end (more may follow)
//    123  130  128  141  137  140  129  133     (end - start) / step + 1 counts
//    ...
//
// The counts end after the number that start, step and end make; text may
// follow them (instrument notes). The file names no wavelength and no axis:
// these files hold 2theta scans.
#include <cmath>
#include <string>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/signatures.h"
#include "formats/text_lines.h"

namespace qelda {
namespace {

constexpr int kMaxTitleLines = 5;

struct Grid {
    double start = 0, step = 0, end = 0;
    std::size_t points = 0;
    std::size_t numbers = 0;  // on the line
};

// A line opening with start, step and end of at least four points on a whole
// number of steps.
std::optional<Grid> grid_line(std::string_view line) {
    std::vector<double> v;
    std::string bad;
    std::string t(line);
    for (char& c : t)
        if (c == ',' || c == ';') c = ' ';
    if (!parse_number_list(t, v, nullptr, 64, bad) || v.size() < 3) return std::nullopt;
    Grid g{v[0], v[1], v[2], 0, v.size()};
    if (!(g.step > 0.0) || !(g.end > g.start)) return std::nullopt;
    const double n = (g.end - g.start) / g.step + 1.0;
    if (n < 4.0 || n > 1e9 || std::fabs(n - std::round(n)) > 0.01) return std::nullopt;
    g.points = static_cast<std::size_t>(std::round(n));
    return g;
}

std::size_t numbers_on(std::string_view line) {
    std::vector<double> v;
    std::string bad;
    if (!parse_number_list(line, v, nullptr, 64, bad)) return 0;
    return v.size();
}

ConversionStatus read_riet7(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    const std::string_view text = ws.input().bytes();
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    std::optional<Grid> grid;
    InstrumentScan s;
    while (!grid && line_no <= kMaxTitleLines && next_text_line(text, pos, line)) {
        ++line_no;
        grid = grid_line(trim(line));
        if (!grid && s.title.empty()) s.title = std::string(trim(line));
    }
    if (!grid)
        return ws.fail(ConversionStatus::not_available,
                       file + ": none of its first " + std::to_string(kMaxTitleLines + 1) +
                           " lines opens with start, step and end: not a Riet7-style file");
    if (grid->points > static_cast<std::size_t>(kPointCapacity))
        return ConversionStatus::too_many_points;
    s.axis = "2Theta";
    s.two_theta = true;
    s.start = grid->start;
    s.step = grid->step;
    s.stop = grid->end;
    const int32_t grid_line_no = line_no;
    std::string bad;
    std::vector<double> row;
    while (s.counts.size() < grid->points && next_text_line(text, pos, line)) {
        ++line_no;
        row.clear();
        if (!parse_number_list(line, row, nullptr, kPointCapacity, bad))
            return ws.fail(
                ConversionStatus::record_error,
                file + ", line " + std::to_string(line_no) + ": '" + bad + "' is not a number");
        if (s.counts.size() + row.size() > grid->points)
            return ws.fail(ConversionStatus::record_error,
                           file + ", line " + std::to_string(line_no) + ": more counts than the " +
                               std::to_string(grid->points) + " that line " +
                               std::to_string(grid_line_no) + " states");
        s.counts.insert(s.counts.end(), row.begin(), row.end());
    }
    if (s.counts.size() < grid->points)
        return ws.fail(ConversionStatus::premature_end,
                       file + " holds " + std::to_string(s.counts.size()) + " of the " +
                           std::to_string(grid->points) + " counts that line " +
                           std::to_string(grid_line_no) + " states (start " +
                           number_text(grid->start) + ", step " + number_text(grid->step) +
                           ", end " + number_text(grid->end) + ")");
    return convert_scan(ws, 1, [&](int32_t, InstrumentScan& out) {
        out = std::move(s);
        return ConversionStatus::done;
    });
}

}  // namespace

std::optional<std::string> riet7_dat_signature(std::string_view head) {
    // A title line first; then, within the next lines, start, step and end,
    // followed by a line of counts that is not of the same shape (else these
    // are columns of x-y rows).
    std::size_t pos = 0;
    std::string_view line;
    if (!next_text_line(head, pos, line) || numbers_on(trim(line)) > 0) return std::nullopt;
    for (int i = 2; i <= kMaxTitleLines + 1 && next_text_line(head, pos, line); ++i) {
        const auto grid = grid_line(trim(line));
        if (!grid) continue;
        std::string_view next;
        if (!next_text_line(head, pos, next)) return std::nullopt;
        const std::size_t n = numbers_on(next);
        if (n == 0 || n == grid->numbers) return std::nullopt;
        return "line " + std::to_string(i) + " opens with start, step and end of " +
               std::to_string(grid->points) + " points, line " + std::to_string(i + 1) +
               " holds counts";
    }
    return std::nullopt;
}

ConversionStatus riet7_dat_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_riet7(ws);
    });
}

}  // namespace qelda
