#include "formats/text_points.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <utility>

namespace qelda {

char* put_shortest(char* out, float v) noexcept {
    return std::to_chars(out, out + 32, v).ptr;
}

void WrittenSigma::warn(Workspace& ws, std::string_view format) const {
    if (computed_ == 0) return;
    const std::string file(ws.input().file_name());
    const int32_t n = ws.record().point_count;
    std::string text = std::string(format) + " output: sigma(I) computed as sqrt(I) for ";
    text += computed_ == n ? "every point"
                           : std::to_string(computed_) + " of " + std::to_string(n) + " points";
    text += from_file_ ? " (" + file + " gives none above 0 there)"
                       : " (none was read from " + file + ")";
    if (unit_ > 0) text += "; 1 where I is not above 0 (" + std::to_string(unit_) + " points)";
    ws.warn(std::move(text));
}

std::string title_line(Workspace& ws, std::string_view format) {
    std::string title(ws.record().title);
    for (char& c : title)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    title.resize(trim_right(title).size());
    // Those behind the last visible character only padded the field.
    int32_t inside = 0;
    for (std::size_t i = 0; i < title.size(); ++i) {
        const auto c = static_cast<unsigned char>(ws.record().title[i]);
        if (c < 0x20 || c == 0x7f) ++inside;
    }
    if (inside > 0)
        ws.warn(std::string(format) + " output: " + std::to_string(inside) + " control character" +
                (inside == 1 ? "" : "s") + " of the title written as blanks");
    return title;
}

ConversionStatus check_finite(Workspace& ws, std::string_view format) {
    const PowderPattern& r = ws.record();
    const int32_t n = std::min(r.point_count, kPointCapacity);
    if (n < 1) return ws.fail(ConversionStatus::record_error, "the scan holds no points to write");
    const float* y = r.intensity.data();
    const float* s = r.sigma.data();
    for (int32_t i = 0; i < n; ++i) {
        const char* what = !std::isfinite(point_angle(r, i)) ? "2theta"
                           : !std::isfinite(y[i])            ? "the intensity"
                           : !std::isfinite(s[i])            ? "sigma(I)"
                                                             : nullptr;
        if (what != nullptr)
            return ws.fail(ConversionStatus::too_large,
                           std::string(what) + " of point " + std::to_string(i + 1) +
                               " is not a finite number; " + std::string(format) +
                               " cannot hold it");
    }
    return ConversionStatus::done;
}

std::string scan_description(const ScanInfo& scan) {
    auto number = [](double v) {
        char buf[32];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        return std::string(buf, res.ptr);
    };
    const int32_t n = std::max(scan.number, 1);
    std::string text =
        "Scan " + std::to_string(n) + " of " + std::to_string(std::max(scan.count, n));
    std::string parts;
    auto add = [&](const std::string& part) { parts += (parts.empty() ? "" : "; ") + part; };
    if (!scan.axis.empty()) add("axis " + scan.axis);
    if (scan.omega) add("omega " + number(*scan.omega));
    if (scan.chi) add("chi " + number(*scan.chi));
    if (scan.phi) add("phi " + number(*scan.phi));
    if (scan.temperature) add("temperature " + number(*scan.temperature) + " K");
    if (!scan.measured_at.empty()) add("measured " + scan.measured_at);
    return parts.empty() ? text : text + ": " + parts;
}

}  // namespace qelda
