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
    double count = std::fabs(q - k) <= 1e-3 ? k + 1.0 : std::trunc(q + 1.0);
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    if (count < lo) count = lo;
    if (count > hi) count = hi;
    return static_cast<int32_t>(count);
}

}  // namespace qelda
