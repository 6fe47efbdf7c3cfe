#include "core/decimals.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "core/fields.h"

namespace qelda {

std::string shortest_decimal(float value) {
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (res.ec != std::errc()) return fixed_digits(value, 9);
    return std::string(buf, res.ptr);
}

int32_t shortest_decimals(float value) noexcept {
    if (!std::isfinite(value)) return 0;
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (res.ec != std::errc()) return 0;
    for (const char* p = buf; p != res.ptr; ++p)
        if (*p == '.') return static_cast<int32_t>(res.ptr - p - 1);
    return 0;
}

bool reads_back(float value, int32_t decimals) {
    if (!std::isfinite(value)) return false;
    const std::string digits = fixed_digits(value, decimals);
    float back = 0.0f;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), back);
    return res.ec == std::errc() && back == value;
}

int32_t decimals_to_read_back(float value, int32_t at_least, int32_t at_most) {
    // No decimal with fewer places than the shortest one reads back; with as
    // many or more, the rounded value lies nearer than it and does.
    const int32_t d = std::max(at_least, shortest_decimals(value));
    return d <= at_most && reads_back(value, d) ? d : -1;
}

bool is_whole_count(float value, float shift) noexcept {
    if (!std::isfinite(value)) return false;
    if (value == std::round(value)) return true;
    if (shift == 0.0f) return false;
    const double k = std::round(static_cast<double>(value) - shift);
    return std::fabs(k) < 16777216.0 && static_cast<float>(k) + shift == value;
}

double whole_count(float value, float shift) noexcept {
    if (is_whole_count(value, shift) && value != std::round(value))
        return std::round(static_cast<double>(value) - shift);
    return std::round(static_cast<double>(value));
}

double RoundingTally::take(float value, float shift) noexcept {
    if (is_whole_count(value, shift)) return whole_count(value, shift);
    const double stated = static_cast<double>(value) - shift;
    const double whole = std::round(stated);
    if (std::isfinite(whole)) {
        ++changed;
        largest = std::max(largest, std::fabs(whole - stated));
    }
    return whole;
}

std::string RoundingTally::warning(std::string_view format) const {
    if (changed == 0) return {};
    return std::string(format) + " holds whole counts: " + std::to_string(changed) +
           (changed == 1 ? " intensity" : " intensities") + " rounded (largest change " +
           change_text(largest) + ")";
}

std::string change_text(double change) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, change, std::chars_format::general, 6);
    return std::string(buf, res.ptr);
}

std::string value_text(double value) {
    if (std::isfinite(value) && std::fabs(value) >= 1e6) {
        char buf[32];
        const auto res =
            std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 2);
        std::string s(buf, res.ptr);
        // "2.55e+08" as "2.55e8".
        const auto e = s.find('e');
        if (e != std::string::npos) {
            std::string mant = s.substr(0, e);
            while (mant.find('.') != std::string::npos &&
                   (mant.back() == '0' || mant.back() == '.'))
                mant.pop_back();
            int exp = std::atoi(s.c_str() + e + 1);
            s = mant + "e" + std::to_string(exp);
        }
        return s;
    }
    return shortest_decimal(static_cast<float>(value));
}

}  // namespace qelda
