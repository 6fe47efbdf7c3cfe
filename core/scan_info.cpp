#include "core/scan_info.h"

#include <algorithm>
#include <charconv>

namespace qelda {

std::string scan_title(std::string_view title, int32_t number, int32_t count, std::size_t length) {
    const std::string suffix = "scan " + std::to_string(number) + " of " + std::to_string(count);
    while (!title.empty() && title.back() == ' ') title.remove_suffix(1);
    if (title.empty()) return suffix.substr(0, length);
    const std::size_t room = length > suffix.size() + 2 ? length - suffix.size() - 2 : 0;
    std::string out(title.substr(0, room));
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.empty()) return suffix.substr(0, length);
    return out + ", " + suffix;
}

std::string scan_output_name(std::string_view output, int32_t number, int32_t count) {
    const std::size_t slash = output.find_last_of("/\\");
    const std::size_t name_at = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = output.rfind('.');
    // No extension, or only a leading dot (".scan"): the number goes at the end.
    if (dot == std::string_view::npos || dot <= name_at) dot = output.size();
    const std::size_t width = std::max<std::size_t>(2, std::to_string(std::max(count, 1)).size());
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return std::string(output.substr(0, dot)) + "_" + digits + std::string(output.substr(dot));
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
