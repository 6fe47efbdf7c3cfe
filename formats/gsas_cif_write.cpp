// Powder CIF output, in the form of a journal deposition: one data block with
// the title, the source file, the wavelength loop, the 2theta range (min, max,
// inc) and number of points, the count time, and a loop of one column of
// intensities, each with its uncertainty in parentheses
// (_pd_meas_counts_total when every intensity is a whole count, otherwise
// _pd_meas_intensity_total). Every number reads back as the record's
// single-precision value: the value and its uncertainty are printed with the
// decimals the longer of the two needs.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

#include "core/stated_values.h"
#include "formats/gsas_cif.h"
#include "formats/instrument_scan.h"
#include "formats/registry.h"
#include "formats/text_points.h"

namespace qelda {
namespace {

// The shortest fixed-notation text that reads back as `v` ("0.00001", "255000000").
std::string fixed_text(float v) {
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

std::size_t decimals_of(const std::string& text) {
    const std::size_t dot = text.find('.');
    return dot == std::string::npos ? 0 : text.size() - dot - 1;
}

// "36.198" and "6.0165" become "36.1980(60165)": the value with the decimals
// of the longer, the uncertainty in units of the value's last decimal.
void append_with_su(std::string& out, float value, float su) {
    std::string v = fixed_text(value);
    std::string s = fixed_text(su);
    const std::size_t d = std::max(decimals_of(v), decimals_of(s));
    auto widen = [d](std::string& t) {
        std::size_t have = decimals_of(t);
        if (have == d) return;
        if (have == 0 && t.find('.') == std::string::npos) t += '.';
        t.append(d - have, '0');
    };
    widen(v);
    widen(s);
    out += v;
    out += '(';
    std::string digits;
    for (const char c : s)
        if (c != '.') digits += c;
    const std::size_t first = digits.find_first_not_of('0');
    out += first == std::string::npos ? std::string("0") : digits.substr(first);
    out += ")\r\n";
}

// A data block name: the letters, digits and "._-" of `stem`, or "pattern".
std::string block_name(std::string_view path) {
    std::string_view stem = file_name_part(path);
    if (const auto dot = stem.rfind('.'); dot != std::string_view::npos && dot > 0)
        stem = stem.substr(0, dot);
    std::string name;
    for (const char c : stem)
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '_' || c == '-')
            name += c;
    if (name.size() > 60) name.resize(60);
    return name.empty() ? "pattern" : name;
}

// A text value as a text field, whose lines must not begin with ";".
void append_text_field(OutputUnit& out, std::string_view text) {
    out.append_line(";");
    if (!text.empty() && text.front() == ';') {
        std::string line(1, ' ');  // read back without it
        line += text;
        out.append_line(line);
    } else {
        out.append_line(text);
    }
    out.append_line(";");
}

}  // namespace

ConversionStatus write_powder_cif(Workspace& ws) {
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    const PowderPattern& r = ws.record();
    if (const ConversionStatus s = check_finite(ws, "CIF"); s != ConversionStatus::done) return s;
    const int32_t n = std::min(r.point_count, kPointCapacity);
    const float* y = r.intensity.data();

    const std::string_view source = file_name_part(ws.session().input_path);
    const FormatInfo* from = find_format(ws.session().input_format);
    const std::string origin =
        "converted from " +
        (source.empty() ? std::string("an unnamed input") : std::string(source)) +
        (from ? " (" + std::string(from->list_text) + ")" : "");
    out.append_line("# powder pattern " + origin);
    out.append_line("data_" + block_name(ws.session().input_path));
    out.append_line("");
    out.append_line("_publ_section_title");
    append_text_field(out, title_line(ws, "CIF"));
    out.append_line("_pd_proc_info_data_reduction");
    if (ws.options.all_scans) {
        // One scan of several: what its file states of it, on the next line.
        out.append_line(";");
        out.append_line(origin);
        out.append_line(scan_description(ws.scan));
        out.append_line(";");
    } else {
        append_text_field(out, origin);
    }
    out.append_line("");
    if (r.lambda1 > 0.0f) {
        out.append_line("loop_");
        out.append_line("_diffrn_radiation_wavelength_id");
        out.append_line("_diffrn_radiation_wavelength");
        out.append_line("_diffrn_radiation_wavelength_wt");
        out.append_line("1 " + float_text(r.lambda1) + " 1");
        if (r.lambda2 > 0.0f)
            out.append_line("2 " + float_text(r.lambda2) + " " + float_text(r.alpha_ratio));
        out.append_line("");
    }
    // A descending scan has no range with a positive increment: the loop then
    // gives every angle.
    // So does a scan whose angles are stated one by one, and an axis other than
    // 2theta (d or Q), which the loop gives instead.
    const bool angles = (n > 1 && r.two_theta_step < 0.0f) || per_point_x(ws);
    const Axis axis = ws.pattern_options.axis;
    out.append_line("_pd_meas_number_of_points " + std::to_string(n));
    if (!angles) {
        out.append_line("_pd_meas_2theta_range_min " + float_text(r.two_theta_start));
        out.append_line("_pd_meas_2theta_range_max " + float_text(point_angle(r, n - 1)));
        out.append_line("_pd_meas_2theta_range_inc " + float_text(r.two_theta_step));
    }
    if (r.count_time > 0.0f)
        out.append_line("_pd_meas_step_count_time " + float_text(r.count_time));
    // One scan of several: what its file states of it.
    if (ws.options.all_scans) {
        if (ws.scan.temperature)
            out.append_line("_diffrn_ambient_temperature " + number_text(*ws.scan.temperature));
    }
    out.append_line("");

    const bool counts =
        std::all_of(y, y + n, [](float v) { return v >= 0.0f && v == std::floor(v); });
    out.append_line("loop_");
    if (angles)
        out.append_line(axis == Axis::d   ? "_pd_proc_d_spacing"
                        : axis == Axis::q ? "_pd_proc_recip_len_Q"
                                          : "_pd_meas_2theta_scan");
    out.append_line(counts ? "_pd_meas_counts_total" : "_pd_meas_intensity_total");
    WrittenSigma sigma(ws);
    std::string block;
    block.reserve(1 << 16);
    for (int32_t i = 0; i < n; ++i) {
        if (angles) {
            block += float_text(point_x(ws, i));
            block += ' ';
        }
        append_with_su(block, y[i], sigma(i));
        if (block.size() >= (1 << 16) - 128) {
            out.append_bytes(block);
            block.clear();
        }
    }
    out.append_bytes(block);
    sigma.warn(ws, "CIF");
    return ConversionStatus::done;
}

}  // namespace qelda
