// GSAS FXYE: the title, an instrument-parameter line that names the
// wavelengths, "#" comment lines, the BANK record (CONS binning: start and step
// in centidegrees) and one point to a line: 2theta in centidegrees, the
// intensity and sigma(I). Written only (files named .fxye are read by the GSAS
// reader, which takes the wavelengths back from that line).
//
// GSAS-II reads the second line as the name of an instrument parameter file
// when it begins with "inst" and holds a colon; a name that is no file is
// passed over, so the line can carry the wavelengths in GSAS-II's own words
// (Lam1, Lam2, I(L2)/I(L1); Lam for a single line).
#include <charconv>
#include <string>
#include <string_view>

#include "core/codec_guard.h"
#include "core/fields.h"
#include "core/stated_values.h"
#include "formats/codecs.h"
#include "formats/registry.h"
#include "formats/text_points.h"

namespace qelda {
namespace {

// The BANK record and the title are read as records of 80 characters.
constexpr std::size_t kRecordLength = 80;

// Moves the decimal point of a number in scientific notation ("4.006565e+00")
// two places right and writes it in fixed notation ("400.6565").
std::string centi_text(std::string_view sci) {
    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    const std::size_t e = sci.find('e');
    int exponent = 0;
    std::from_chars(sci.data() + e + 1 + (sci[e + 1] == '+' ? 1 : 0), sci.data() + sci.size(),
                    exponent);
    std::string digits;
    for (const char c : sci.substr(0, e))
        if (c != '.') digits += c;
    // The point stands after `point` digits.
    const int point = exponent + 1 + 2;
    if (point <= 0) {
        out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
               digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

// True when the GSAS reader takes `text` centidegrees back as `degrees`.
bool reads_back(const std::string& text, float degrees) {
    double v = 0.0;
    return parse_real_field(text, 0, v) == FieldError::none &&
           static_cast<float>(v / 100.0) == degrees;
}

// An angle in centidegrees that the GSAS reader takes back as the same float:
// the shortest decimal of the angle with its point moved, or more digits where
// the division by 100 would land on the next float.
std::string centidegrees(float degrees) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, degrees, std::chars_format::scientific);
    std::string text = centi_text(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    for (int digits = 9; !reads_back(text, degrees) && digits <= 17; ++digits) {
        res = std::to_chars(buf, buf + sizeof buf, static_cast<double>(degrees),
                            std::chars_format::scientific, digits - 1);
        text = centi_text(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    }
    return text;
}

ConversionStatus write_fxye(Workspace& ws) {
    OutputUnit& out = ws.output();
    if (!out.is_open()) return ConversionStatus::record_error;
    const PowderPattern& r = ws.record();
    if (const ConversionStatus s = check_finite(ws, "FXYE"); s != ConversionStatus::done) return s;
    // CONS binning runs upwards from its start.
    if (r.point_count > 1 && r.two_theta_step < 0.0f)
        return ws.fail(ConversionStatus::too_large,
                       "the scan descends (step " + float_text(r.two_theta_step) +
                           "); FXYE's CONS binning holds ascending scans only; xye or cif can "
                           "hold it");

    out.append_line(title_line(ws, "FXYE"));
    if (r.lambda1 > 0.0f) {
        if (r.lambda2 > 0.0f)
            out.append_line("Instrument parameters: Lam1 " + float_text(r.lambda1) + " Lam2 " +
                            float_text(r.lambda2) + " I(L2)/I(L1) " + float_text(r.alpha_ratio));
        else
            out.append_line("Instrument parameters: Lam " + float_text(r.lambda1));
    }
    const std::string_view source = file_name_part(ws.session().input_path);
    if (!source.empty()) {
        const FormatInfo* f = find_format(ws.session().input_format);
        out.append_line("# Converted from " + std::string(source) +
                        (f ? " (" + std::string(f->list_text) + ")" : ""));
    }
    if (r.count_time > 0.0f) out.append_line("# Time per step (sec) = " + float_text(r.count_time));

    const int32_t n = std::min(r.point_count, kPointCapacity);
    const std::string bank = "BANK 1 " + std::to_string(n) + " " + std::to_string(n) + " CONS " +
                             centidegrees(r.two_theta_start) + " " +
                             centidegrees(r.two_theta_step) + " 0 0 FXYE";
    if (bank.size() > kRecordLength)
        return ws.fail(ConversionStatus::too_large, "the BANK record would be " +
                                                        std::to_string(bank.size()) +
                                                        " characters; GSAS reads 80");
    out.append_line(bank);

    WrittenSigma sigma(ws);
    const float* y = r.intensity.data();
    std::string block;
    block.reserve(1 << 16);
    char line[3 * 32 + 8];
    for (int32_t i = 0; i < n; ++i) {
        block += centidegrees(point_angle(r, i));
        char* p = line;
        *p++ = ' ';
        p = put_shortest(p, y[i]);
        *p++ = ' ';
        p = put_shortest(p, sigma(i));
        *p++ = '\r';
        *p++ = '\n';
        block.append(line, p);
        if (block.size() >= (1 << 16) - 2 * sizeof line) {
            out.append_bytes(block);
            block.clear();
        }
    }
    out.append_bytes(block);
    sigma.warn(ws, "FXYE");
    return ConversionStatus::done;
}

}  // namespace

ConversionStatus fxye_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        if (mode == CodecMode::write) return write_fxye(ws);
        return ws.fail(ConversionStatus::not_available,
                       "FXYE is written, not read here (the GSAS reader reads .fxye files)");
    });
}

}  // namespace qelda
