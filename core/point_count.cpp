#include "core/point_count.h"

#include <cmath>
#include <limits>

namespace qelda {

int32_t derived_point_count(double start, double end, double step) noexcept {
    if (!(step != 0.0) || !std::isfinite(step) || !std::isfinite(start) || !std::isfinite(end))
        return 0;
    const double q = (end - start) / step;
    if (!std::isfinite(q)) return 0;
    const double k = std::round(q);
    // Start, end and step come from single-precision fields, each off by up to
    // half a unit in the last place (2^-24 relative); the quotient inherits
    // that error scaled by (|start| + |end|) / |step| and by q itself, which
    // exceeds 1e-3 for long scans (0.01 to 32.01 by 0.002 gives 15999.9984).
    // Twice that bound is tolerated on top of 1e-3.
    constexpr double kSingleUlp = 1.0 / (1 << 23);
    const double tolerance =
        1e-3 + kSingleUlp * ((std::fabs(start) + std::fabs(end)) / std::fabs(step) + std::fabs(q));
    double count = std::fabs(q - k) <= tolerance ? k + 1.0 : std::trunc(q + 1.0);
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    if (count < lo) count = lo;
    if (count > hi) count = hi;
    return static_cast<int32_t>(count);
}

}  // namespace qelda
