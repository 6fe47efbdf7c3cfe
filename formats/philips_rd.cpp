// Philips binary RD scans (PW1800, PW1710/PW3710 and early X'Pert systems,
// .rd and .sd), read only. Numbers are little-endian.
//
//   offset  size  what
//        0     4  "V3RD" (a 250-byte header) or "V5RD" (an 810-byte header)
//       84   1×3  diffractometer type, anode (0 Cu, 1 Mo, 2 Fe, 3 Cr, 4 other),
//                 focus type
//       94   f64  K-alpha1 wavelength (Å)
//      102   f64  K-alpha2 wavelength (Å)
//      110   f64  intensity ratio alpha2/alpha1
//      138     8  file name
//      146    20  sample identification
//      214   f64  2theta step
//      222   f64  2theta start
//      230   f64  2theta end
//      250   u16  (V3; 810 for V5) one value per point: the intensity is the
//                 value squared over 100 (the file keeps ten times the square
//                 root of the counts)
//
// The header names no scan axis: these files hold 2theta scans. Converters
// that write this layout leave header fields they do not know blank, so the
// wavelengths are taken only where they are plausible, and a value missing
// from them is asked for.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/codec_guard.h"
#include "formats/codecs.h"
#include "formats/instrument_scan.h"
#include "formats/signatures.h"

namespace qelda {
namespace {

constexpr std::size_t kV3Data = 250;
constexpr std::size_t kV5Data = 810;

double f64_at(std::string_view b, std::size_t at) noexcept {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return std::bit_cast<double>(v);
}

uint32_t u16_at(std::string_view b, std::size_t at) noexcept {
    return static_cast<unsigned char>(b[at]) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8);
}

// A fixed-length text field without its NULs and blanks on either side.
std::string text_at(std::string_view b, std::size_t at, std::size_t length) {
    std::string s(b.substr(at, length));
    const auto nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32) c = ' ';
    return std::string(trim(s));
}

bool plausible_wavelength(double w) noexcept {
    return std::isfinite(w) && w >= 0.1 && w <= 10.0;
}

ConversionStatus read_rd(Workspace& ws) {
    const std::string file(ws.input().file_name());
    if (const ConversionStatus big = refuse_oversized(ws); big != ConversionStatus::done)
        return big;
    const std::string_view b = ws.input().bytes();
    const std::string_view magic = b.substr(0, 4);
    if (magic != "V3RD" && magic != "V5RD")
        return ws.fail(ConversionStatus::not_available,
                       file + " does not begin with V3RD or V5RD: not a Philips RD file");
    const bool v5 = magic == "V5RD";
    const std::size_t data = v5 ? kV5Data : kV3Data;
    if (b.size() < data)
        return ws.fail(ConversionStatus::premature_end, file + " ends inside its header (" +
                                                            std::to_string(b.size()) + " of " +
                                                            std::to_string(data) + " bytes)");

    const double step = f64_at(b, 214), start = f64_at(b, 222), end = f64_at(b, 230);
    const std::string stated =
        "start " + number_text(start) + ", end " + number_text(end) + ", step " + number_text(step);
    if (!std::isfinite(step) || !std::isfinite(start) || !std::isfinite(end) || !(step > 0.0) ||
        end < start)
        return ws.fail(ConversionStatus::record_error,
                       file + ": its header states no usable scan (" + stated + ")");
    const double intervals = (end - start) / step;
    if (intervals > kPointCapacity)
        return ws.fail(ConversionStatus::too_many_points,
                       file + ": its header states " + number_text(intervals + 1) + " points (" +
                           stated + "), more than can be held");
    const double whole = std::round(intervals);
    if (std::fabs(intervals - whole) > 0.01)
        return ws.fail(ConversionStatus::record_error,
                       file +
                           ": start, end and step of its header do not make a whole number "
                           "of steps (" +
                           stated + ")");
    const auto points = static_cast<std::size_t>(whole) + 1;
    const std::size_t held = (b.size() - data) / 2;
    if (held < points)
        return ws.fail(ConversionStatus::premature_end,
                       file + " holds " + std::to_string(held) + " of the " +
                           std::to_string(points) + " values its header states (" + stated + ")");

    InstrumentScan s;
    s.axis = "2Theta";
    s.two_theta = true;
    s.start = start;
    s.step = step;
    s.stop = end;
    s.title = text_at(b, 146, 20);
    if (s.title.empty()) s.title = text_at(b, 138, 8);
    s.counts.reserve(points);
    for (std::size_t i = 0; i < points; ++i) {
        const double v = u16_at(b, data + 2 * i);
        s.counts.push_back(v * v / 100.0);
    }
    if (held > points)
        s.notes.push_back(file + " holds " + std::to_string(held - points) +
                          (held - points == 1 ? " value" : " values") + " past the " +
                          std::to_string(points) + " its header states; ignored");

    const double a1 = f64_at(b, 94), a2 = f64_at(b, 102), ratio = f64_at(b, 110);
    if (plausible_wavelength(a1)) {
        Wavelengths w;
        w.alpha1 = static_cast<float>(a1);
        if (plausible_wavelength(a2) && a2 > a1 && a2 < a1 * 1.01) {
            w.alpha2 = static_cast<float>(a2);
            if (std::isfinite(ratio) && ratio >= 0.01 && ratio <= 1.0) {
                w.ratio = static_cast<float>(ratio);
            } else {
                w.ratio = 0.5f;
                s.notes.push_back(file +
                                  " gives no usable intensity ratio of K-alpha2 to K-alpha1; 0.5 "
                                  "taken");
            }
        }
        s.wavelengths = w;
    }
    return convert_scan(ws, 1, [&](int32_t, InstrumentScan& out) {
        out = std::move(s);
        return ConversionStatus::done;
    });
}

}  // namespace

std::optional<std::string> philips_rd_signature(std::string_view head) {
    const std::string_view magic = head.substr(0, 4);
    if (magic != "V3RD" && magic != "V5RD") return std::nullopt;
    return "begins with '" + std::string(magic) + "'";
}

ConversionStatus philips_rd_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        return mode == CodecMode::write ? ConversionStatus::not_available : read_rd(ws);
    });
}

}  // namespace qelda
