#include "core/pattern_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "core/decimals.h"

namespace qelda {

namespace {

// Up to eight significant digits, no trailing zeros ("0.075", "1.5406").
std::string short_text(double v) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 8);
    return std::string(buf, res.ptr);
}

std::vector<double> all_angles(const PowderPattern& r) {
    const int32_t n = std::clamp(r.point_count, 0, kPointCapacity);
    std::vector<double> out(static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) out[static_cast<std::size_t>(i)] = angle_at(r, i);
    return out;
}

ConversionStatus to_wavelength(Workspace& ws, std::string_view file, double asked) {
    PowderPattern& r = ws.record();
    // The record holds wavelengths in single precision: computing with the one
    // it will hold makes a way there and back land where it started.
    const double to = static_cast<float>(asked);
    const double from = r.lambda1;
    const std::string from_text = shortest_decimal(r.lambda1);
    const std::string to_text = shortest_decimal(static_cast<float>(to));
    if (!(from > 0.0))
        return ws.fail(ConversionStatus::not_available,
                       std::string(file) +
                           " states no wavelength, and --to-wavelength needs the one the scan "
                           "was measured with (give it with --wavelengths)");
    if (ws.wavelength_origin == WavelengthOrigin::assumed)
        ws.warn("--to-wavelength starts from the assumed wavelength " + from_text + " \u00c5 (" +
                std::string(file) + " states none)");
    const std::vector<double> before = all_angles(r);
    const int32_t n = static_cast<int32_t>(before.size());
    std::vector<double> after;
    after.reserve(before.size());
    float* y = r.intensity.data();
    float* s = r.sigma.data();
    int32_t kept = 0;
    double first_dropped = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const auto t = two_theta_at_wavelength(before[static_cast<std::size_t>(i)], from, to);
        if (!t || *t >= 180.0) {
            if (kept == i) first_dropped = before[static_cast<std::size_t>(i)];
            continue;
        }
        after.push_back(*t);
        y[kept] = y[i];
        s[kept] = s[i];
        ++kept;
    }
    if (kept == 0)
        return ws.fail(ConversionStatus::not_available,
                       std::string(file) + ": no point of the scan has a 2theta below 180 at " +
                           to_text + " \u00c5 (measured at " + from_text + " \u00c5)");
    for (int32_t i = kept; i < n; ++i) y[i] = s[i] = 0.0f;
    if (kept < n)
        ws.warn(std::to_string(n - kept) + " of " + std::to_string(n) + " points dropped: at " +
                to_text + " \u00c5 their d would lie beyond 2theta 180 (from 2theta " +
                short_text(first_dropped) + " at " + from_text + " \u00c5)");
    r.point_count = kept;
    r.angles = std::move(after);
    set_range_from_angles(r);
    const float ratio = static_cast<float>(to / from);
    r.lambda1 = static_cast<float>(to);
    if (r.lambda2 > 0.0f) r.lambda2 *= ratio;
    ws.warn("re-expressed at " + to_text + " \u00c5 (measured at " + from_text +
            " \u00c5) at equal d: 2theta now " + short_text(r.angles.front()) + " to " +
            short_text(r.angles.back()) + ", no longer on one even grid" +
            (r.lambda2 > 0.0f ? "; lambda2 " + short_text(r.lambda2) + " \u00c5 at the same ratio"
                              : std::string()));
    return ConversionStatus::done;
}

ConversionStatus resample(Workspace& ws, std::string_view file, double asked) {
    PowderPattern& r = ws.record();
    const std::vector<double> x = all_angles(r);
    const std::size_t n = x.size();
    if (n < 2)
        return ws.fail(ConversionStatus::not_available,
                       std::string(file) + ": a scan of one point cannot be resampled");
    const double direction = x.back() > x.front() ? 1.0 : -1.0;
    std::vector<double> steps(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        steps[i] = (x[i + 1] - x[i]) * direction;
        if (!(steps[i] > 0.0))
            return ws.fail(ConversionStatus::not_available,
                           std::string(file) + ", point " + std::to_string(i + 2) + ": 2theta " +
                               short_text(x[i + 1]) + " does not follow " + short_text(x[i]) +
                               " in the scan's direction; points out of order cannot be resampled");
    }
    double step = asked;
    if (step == 0.0) {
        std::vector<double> sorted = steps;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t half = sorted.size() / 2;
        step = sorted.size() % 2 == 1 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2.0;
    }
    const double span = (x.back() - x.front()) * direction;
    const double count = std::floor(span / step * (1.0 + 1e-12) + 1e-9) + 1.0;
    if (!(count <= kPointCapacity))
        return ws.fail(ConversionStatus::too_many_points,
                       std::string(file) + ": 2theta " + short_text(x.front()) + " to " +
                           short_text(x.back()) + " in steps of " + short_text(step) + " gives " +
                           short_text(count) + " points; a record holds " +
                           std::to_string(kPointCapacity));
    const auto m = static_cast<int32_t>(count);
    std::vector<float> y(n), s(n);
    std::copy_n(r.intensity.data(), n, y.begin());
    std::copy_n(r.sigma.data(), n, s.begin());
    float* yo = r.intensity.data();
    float* so = r.sigma.data();
    double moved = 0.0;  // the largest distance of a new point from a stated angle
    std::size_t k = 0;   // x[k] <= the new angle <= x[k+1] (in the scan's direction)
    for (int32_t j = 0; j < m; ++j) {
        const double a = x.front() + direction * step * j;
        while (k + 2 < n && (x[k + 1] - a) * direction < 0.0) ++k;
        const double t = std::clamp((a - x[k]) / (x[k + 1] - x[k]), 0.0, 1.0);
        moved = std::max(moved, std::min(std::fabs(a - x[k]), std::fabs(x[k + 1] - a)));
        yo[j] = static_cast<float>((1.0 - t) * y[k] + t * y[k + 1]);
        so[j] = static_cast<float>(std::hypot((1.0 - t) * s[k], t * s[k + 1]));
    }
    for (std::size_t i = static_cast<std::size_t>(m); i < n; ++i) yo[i] = so[i] = 0.0f;
    r.angles.clear();
    r.point_count = m;
    r.two_theta_start = static_cast<float>(x.front());
    r.two_theta_step = static_cast<float>(direction * step);
    r.two_theta_end = static_cast<float>(x.front() + direction * step * (m - 1));
    ws.warn("resampled onto an even grid by linear interpolation: " + std::to_string(m) +
            " points from 2theta " + short_text(x.front()) + " in steps of " + short_text(step) +
            " (" + std::to_string(n) + " stated); the largest distance from a stated angle is " +
            short_text(moved) + (ws.has_sigma ? "; sigma propagated" : ""));
    return ConversionStatus::done;
}

}  // namespace

void set_range_from_angles(PowderPattern& r) noexcept {
    if (r.angles.empty()) return;
    const double first = r.angles.front(), last = r.angles.back();
    r.two_theta_start = static_cast<float>(first);
    r.two_theta_end = static_cast<float>(last);
    const std::size_t n = r.angles.size();
    r.two_theta_step =
        n > 1 ? static_cast<float>((last - first) / static_cast<double>(n - 1)) : 0.0f;
}

ConversionStatus apply_pattern_options(Workspace& ws, std::string_view file) {
    const PatternOptions& o = ws.pattern_options;
    if (o.to_wavelength) {
        const ConversionStatus st = to_wavelength(ws, file, *o.to_wavelength);
        if (st != ConversionStatus::done) return st;
    }
    if (o.resample_step) return resample(ws, file, *o.resample_step);
    return ConversionStatus::done;
}

ConversionStatus check_writer_holds(Workspace& ws, const FormatInfo& writer,
                                    std::string_view file) {
    const PowderPattern& r = ws.record();
    if (angles_stated(r) && !writer.holds_angles) {
        double least = INFINITY, most = 0.0;
        for (std::size_t i = 0; i + 1 < r.angles.size(); ++i) {
            const double d = std::fabs(r.angles[i + 1] - r.angles[i]);
            least = std::min(least, d);
            most = std::max(most, d);
        }
        return ws.fail(ConversionStatus::uneven_grid,
                       std::string(file) + ": the angles are not on one even grid (steps from " +
                           short_text(least) + " to " + short_text(most) + "), and " +
                           std::string(writer.list_text) +
                           " holds a start and a step only; --resample STEP (or auto) puts them "
                           "on one, or write x-y, xye, FXYE, CIF, JSON or NeXus, which hold "
                           "every angle");
    }
    const Axis axis = ws.pattern_options.axis;
    if (axis == Axis::two_theta) return ConversionStatus::done;
    if (!writer.holds_axis)
        return ws.fail(ConversionStatus::not_available,
                       std::string(writer.list_text) + " holds 2theta only; --axis " +
                           std::string(axis_label(axis)) + " is written to x-y, xye, CIF and JSON");
    if (!(r.lambda1 > 0.0f))
        return ws.fail(ConversionStatus::not_available,
                       std::string(file) + " states no wavelength, and --axis " +
                           std::string(axis_label(axis)) +
                           " needs one (give it with --wavelengths)");
    if (ws.wavelength_origin == WavelengthOrigin::assumed)
        ws.warn(std::string(axis_label(axis)) + " computed with the assumed wavelength " +
                short_text(r.lambda1) + " \u00c5 (" + std::string(file) + " states none)");
    return ConversionStatus::done;
}

}  // namespace qelda
