// The number of points between a start and an end angle.
#pragma once

#include <cstdint>

namespace qelda {

// (end - start) / step + 1, truncated toward zero; but when the quotient lies
// within 1e-3 of a whole number k, widened by the rounding error that
// single-precision start, end and step can carry into it, the count is k + 1,
// so that this rounding (5 to 100 by 0.05 gives 1899.9999, 0.01 to 32.01 by
// 0.002 gives 15999.9984) does not lose the last point.
// A zero or non-finite step, or a non-finite quotient, gives 0. The result is
// clamped to the int32 range so that callers can compare it with max_points.
int32_t derived_point_count(double start, double end, double step) noexcept;

}  // namespace qelda
