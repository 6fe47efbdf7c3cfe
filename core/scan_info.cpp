#include "core/scan_info.h"

#include <algorithm>

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

}  // namespace qelda
