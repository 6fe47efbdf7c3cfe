#include "core/even_grid.h"

#include <charconv>
#include <cmath>

namespace qelda {

int32_t printed_decimals(std::string_view number) noexcept {
    const auto point = number.find('.');
    int32_t decimals = 0;
    std::size_t i = point == std::string_view::npos ? number.size() : point + 1;
    if (point != std::string_view::npos)
        while (i < number.size() && number[i] >= '0' && number[i] <= '9') {
            ++decimals;
            ++i;
        }
    if (point == std::string_view::npos) {
        i = number.find_first_of("eEdD");
        if (i == std::string_view::npos) return 0;
    }
    if (i < number.size() &&
        (number[i] == 'e' || number[i] == 'E' || number[i] == 'd' || number[i] == 'D')) {
        int exponent = 0;
        std::string_view rest = number.substr(i + 1);
        if (!rest.empty() && rest[0] == '+') rest.remove_prefix(1);
        if (std::from_chars(rest.data(), rest.data() + rest.size(), exponent).ec == std::errc{})
            decimals -= exponent;
    }
    return decimals < 0 ? 0 : decimals;
}

std::optional<GridMiss> first_off_grid(std::span<const double> angles,
                                       std::span<const int8_t> decimals, double start,
                                       double step) noexcept {
    const double quarter = std::fabs(step) / 4.0;
    for (std::size_t i = 0; i < angles.size(); ++i) {
        const double off = angles[i] - (start + static_cast<double>(i) * step);
        double tolerance = quarter;
        if (i < decimals.size())
            tolerance = std::max(tolerance, 0.5 * std::pow(10.0, -decimals[i]));
        // A little room for the single precision of the record's start and step.
        tolerance += 1e-6 * (std::fabs(angles[i]) + 1.0);
        if (!(std::fabs(off) <= tolerance)) return GridMiss{i, off};
    }
    return std::nullopt;
}

namespace {
std::string short_number(double v) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
    return std::string(buf, res.ptr);
}
}  // namespace

std::string off_grid_reason(std::string_view where, double angle, double off, double start,
                            double step) {
    std::string out(where);
    out += ": 2theta ";
    out += short_number(angle);
    out += " is off the even grid of the scan (start ";
    out += short_number(start);
    out += ", step ";
    out += short_number(step);
    out += ") by ";
    out += short_number(off);
    out += "; the points are not evenly spaced, and converting them would move them";
    return out;
}

std::string off_grid_note(std::string_view where, double angle) {
    return std::string(where) + ": 2theta " + short_number(angle) +
           " is the first angle off one even grid; every angle is kept as stated (x-y, xye, "
           "FXYE, CIF, JSON and NeXus write them; --resample puts them on one grid)";
}

}  // namespace qelda
