#include "core/axis.h"

#include <cmath>
#include <numbers>

namespace qelda {

namespace {
constexpr double kDegree = std::numbers::pi / 180.0;
}

std::optional<Axis> axis_named(std::string_view name) noexcept {
    if (name == "2theta" || name == "2th" || name == "tth") return Axis::two_theta;
    if (name == "d") return Axis::d;
    if (name == "q" || name == "Q") return Axis::q;
    return std::nullopt;
}

std::string_view axis_label(Axis axis) noexcept {
    switch (axis) {
        case Axis::d:
            return "d";
        case Axis::q:
            return "Q";
        default:
            return "2theta";
    }
}

std::string_view axis_unit(Axis axis) noexcept {
    switch (axis) {
        case Axis::d:
            return "\u00c5";
        case Axis::q:
            return "1/\u00c5";
        default:
            return "degrees";
    }
}

double axis_value(Axis axis, double two_theta, double lambda) noexcept {
    const double s = std::sin(two_theta * kDegree / 2.0);
    switch (axis) {
        case Axis::d:
            return lambda / (2.0 * s);
        case Axis::q:
            return 4.0 * std::numbers::pi * s / lambda;
        default:
            return two_theta;
    }
}

std::optional<double> two_theta_of(Axis axis, double value, double lambda) noexcept {
    double s = 0.0;
    switch (axis) {
        case Axis::d:
            s = lambda / (2.0 * value);
            break;
        case Axis::q:
            s = value * lambda / (4.0 * std::numbers::pi);
            break;
        default:
            return value;
    }
    if (!(s >= 0.0 && s <= 1.0)) return std::nullopt;
    return 2.0 * std::asin(s) / kDegree;
}

std::optional<double> two_theta_at_wavelength(double two_theta, double from, double to) noexcept {
    const double s = to / from * std::sin(two_theta * kDegree / 2.0);
    if (!(s >= -1.0 && s <= 1.0)) return std::nullopt;
    return 2.0 * std::asin(s) / kDegree;
}

}  // namespace qelda
