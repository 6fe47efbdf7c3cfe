// xye: 2theta, intensity and sigma(I), one point to a line, separated by one
// blank, after a header of "#" lines: the title, the wavelengths, the file it
// was converted from with its format, and the scan axis and count time.
// Written only (files named .xye are read by the x-y reader).
//
// GSAS-II takes a "#" line that holds a lower-case "q" for the header of a
// scan in Q, and would convert the angles; a title or file name with one is
// written as a "/* ... */" line instead, which GSAS-II, TOPAS and xylib pass
// over as well. Every number is the shortest decimal that reads back as the
// record's single-precision value.
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/decimals.h"
#include "core/even_grid.h"
#include "core/stated_values.h"
#include "formats/codecs.h"
#include "formats/registry.h"
#include "formats/text_points.h"

namespace qelda {
namespace {

// A header line for a text from the file.
std::string comment_line(std::string_view text) {
    if (text.find('q') != std::string_view::npos && text.find("*/") == std::string_view::npos)
        return "/* " + std::string(text) + " */";
    return "# " + std::string(text);
}

ConversionStatus write_xye(Workspace& ws) {
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    const PowderPattern& r = ws.record();
    if (const ConversionStatus s = check_finite(ws, "xye"); s != ConversionStatus::done) return s;

    const std::string title = title_line(ws, "xye");
    if (!title.empty()) out.append_line(comment_line(title));
    if (r.lambda1 > 0.0f) {
        out.append_line("# Wavelength " + float_text(r.lambda1) + " Angstrom" +
                        (r.lambda2 > 0.0f ? " (alpha1)" : ""));
        if (r.lambda2 > 0.0f)
            out.append_line("# Wavelength2 " + float_text(r.lambda2) +
                            " Angstrom (alpha2), ratio I(alpha2)/I(alpha1) " +
                            float_text(r.alpha_ratio));
    }
    const std::string_view source = file_name_part(ws.session().input_path);
    if (!source.empty()) {
        const FormatInfo* f = find_format(ws.session().input_format);
        out.append_line(comment_line(std::string("Converted from ") + std::string(source) +
                                     (f ? " (" + std::string(f->list_text) + ")" : "")));
    }
    // One scan of several: what its file states of it.
    if (ws.options.all_scans) out.append_line(comment_line(scan_description(ws.scan)));
    const Axis x_axis = ws.pattern_options.axis;
    std::string axis =
        x_axis == Axis::two_theta
            ? std::string("# Scan axis 2theta (degrees); columns 2theta, I, sigma(I)")
            : "# axis " + std::string(axis_label(x_axis)) + " (" + std::string(axis_unit(x_axis)) +
                  "); columns " + std::string(axis_label(x_axis)) + ", I, sigma(I)";
    if (angles_stated(r)) axis += "; angles as stated, not on one even grid";
    if (r.count_time > 0.0f) axis += "; count time " + float_text(r.count_time) + " s per step";
    out.append_line(axis);

    WrittenSigma sigma(ws);
    const int32_t n = std::min(r.point_count, kPointCapacity);
    const float* y = r.intensity.data();
    std::string block;
    block.reserve(1 << 16);
    char line[3 * 32 + 8];
    for (int32_t i = 0; i < n; ++i) {
        char* p = put_shortest(line, point_x(ws, i));
        *p++ = ' ';
        p = put_shortest(p, y[i]);
        *p++ = ' ';
        p = put_shortest(p, sigma(i));
        *p++ = '\r';
        *p++ = '\n';
        block.append(line, p);
        if (block.size() >= (1 << 16) - sizeof line) {
            out.append_bytes(block);
            block.clear();
        }
    }
    out.append_bytes(block);
    sigma.warn(ws, "xye");
    // Readers of xye take the angles, and derive the step from the first and
    // the last: say so where that is not the record's step.
    if (n > 1 && !per_point_x(ws)) {
        char text[32];
        const char* end = put_shortest(text, point_angle(r, n - 1));
        const float back = xy_step_read_back(point_angle(r, 0), point_angle(r, n - 1), n,
                                             printed_decimals(std::string_view(text, end - text)));
        if (back != r.two_theta_step)
            ws.warn("xye holds the angles, not the step: step " +
                    shortest_decimal(r.two_theta_step) + " reads back as " +
                    shortest_decimal(back));
    }
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus xye_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        if (mode == CodecMode::write) return write_xye(ws);
        return ws.fail(ConversionStatus::not_available,
                       "xye is written, not read (the x-y reader reads .xye files)");
    });
}

}  // namespace qelda
