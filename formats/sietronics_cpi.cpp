// Sietronics Sieray CPI step scans (.cpi), read only: one value a line.
//
//   SIETRONICS XRD SCAN        first line
//   10.00                      2theta start
//   155.00                     2theta end
//   0.010                      step
//   Cu                         anode
//   1.54056                    wavelength (Å)
//   1-1-1900                   date
//   0.600                      counting time per step (s)
//   HH117 CaO:Nb2O5            sample (any number of lines up to SCANDATA)
//   SCANDATA
//   8992                       one count a line, start to end
//
// Some programs write the header numbers with a decimal comma; a comma in a
// line that holds a single number is read as the decimal point.
#include <cmath>
#include <string>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/signatures.h"
#include "formats/text_lines.h"

namespace qelda {
namespace {

constexpr std::string_view kMagic = "SIETRONICS XRD SCAN";

bool header_number(std::string_view line, double& v) {
    std::string t(trim(line));
    if (t.find('.') == std::string::npos && t.find(',') == t.rfind(',') &&
        t.find(',') != std::string::npos)
        t[t.find(',')] = '.';
    return parse_number(t, v);
}

ConversionStatus read_cpi(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    const std::string_view text = ws.input().bytes();
    std::size_t pos = 0;
    std::string_view line;
    int32_t line_no = 0;
    auto at_line = [&] { return file + ", line " + std::to_string(line_no); };
    if (!next_text_line(text, pos, line) || !trim(line).starts_with(kMagic))
        return ws.fail(
            ConversionStatus::not_available,
            file + " does not begin with SIETRONICS XRD SCAN: not a Sietronics CPI file");
    ++line_no;

    InstrumentScan s;
    s.axis = "2Theta";
    s.two_theta = true;
    const char* kNames[] = {"2theta start", "2theta end", "step"};
    double* kValues[] = {&s.start, &s.stop, &s.step};
    for (int i = 0; i < 3; ++i) {
        if (!next_text_line(text, pos, line))
            return ws.fail(ConversionStatus::premature_end, file + " ends before its " + kNames[i] +
                                                                " (line " +
                                                                std::to_string(line_no + 1) + ")");
        ++line_no;
        if (!header_number(line, *kValues[i]))
            return ws.fail(ConversionStatus::record_error,
                           at_line() + ": the " + kNames[i] + " '" +
                               std::string(trim(line).substr(0, 40)) + "' is not a number");
    }
    if (!(s.step > 0.0) || s.stop < s.start)
        return ws.fail(ConversionStatus::record_error,
                       file + ": start " + number_text(s.start) + ", end " + number_text(s.stop) +
                           " and step " + number_text(s.step) + " make no scan");
    const double intervals = (s.stop - s.start) / s.step;
    if (intervals > kPointCapacity) return ConversionStatus::too_many_points;
    if (std::fabs(intervals - std::round(intervals)) > 0.01)
        return ws.fail(ConversionStatus::record_error, file + ": start " + number_text(s.start) +
                                                           ", end " + number_text(s.stop) +
                                                           " and step " + number_text(s.step) +
                                                           " do not make a whole number of steps");
    const auto points = static_cast<std::size_t>(std::round(intervals)) + 1;

    // Anode, wavelength, date, counting time, then the sample up to SCANDATA.
    std::string anode;
    double wavelength = 0, time = 0;
    bool data = false;
    for (int i = 0; !data && next_text_line(text, pos, line); ++i) {
        ++line_no;
        const std::string_view t = trim(line);
        if (t == "SCANDATA") {
            data = true;
        } else if (i == 0) {
            anode = std::string(t);
        } else if (i == 1) {
            header_number(t, wavelength);
        } else if (i == 3) {
            header_number(t, time);
        } else if (i >= 4 && !t.empty() && s.title.empty()) {
            s.title = std::string(t);
        }
    }
    if (!data) return ws.fail(ConversionStatus::premature_end, file + " has no SCANDATA line");
    if (wavelength >= 0.1 && wavelength <= 10.0) {
        Wavelengths w;
        w.alpha1 = static_cast<float>(wavelength);
        s.wavelengths = w;
    }
    if (time > 0.0 && std::isfinite(time)) s.count_time = time;

    std::string bad;
    std::vector<double> row;
    while (next_text_line(text, pos, line)) {
        ++line_no;
        if (trim(line).empty()) continue;
        row.clear();
        if (!parse_number_list(line, row, nullptr, 2, bad))
            return ws.fail(ConversionStatus::record_error,
                           at_line() + ": '" + bad + "' is not a number");
        if (row.size() != 1)
            return ws.fail(ConversionStatus::record_error,
                           at_line() + ": a data line holds one count, found '" +
                               std::string(trim(line).substr(0, 40)) + "'");
        if (s.counts.size() == points)
            return ws.fail(ConversionStatus::record_error, at_line() + ": more counts than the " +
                                                               std::to_string(points) +
                                                               " that start, end and step make");
        s.counts.push_back(row[0]);
    }
    if (s.counts.size() < points)
        return ws.fail(ConversionStatus::premature_end,
                       file + " holds " + std::to_string(s.counts.size()) + " of the " +
                           std::to_string(points) + " counts that start, end and step make");
    return convert_scan(ws, 1, [&](int32_t, InstrumentScan& out) {
        out = std::move(s);
        return ConversionStatus::done;
    });
}

}  // namespace

std::optional<std::string> sietronics_cpi_signature(std::string_view head) {
    if (!head.starts_with(kMagic)) return std::nullopt;
    return "begins with SIETRONICS XRD SCAN";
}

ConversionStatus sietronics_cpi_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_cpi(ws);
    });
}

}  // namespace qelda
