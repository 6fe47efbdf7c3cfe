// What is done to a pattern between its read and its write when the user asks:
// another wavelength at equal d, an even grid by interpolation, and the checks
// that a writer can hold the angles and the axis asked for.
#pragma once

#include "core/format_table.h"
#include "core/workspace.h"

namespace qelda {

// True when the record carries an angle for each of its points. (A record
// whose angles do not match its points is refused by the driver; a codec run
// on its own never indexes past them.)
inline bool angles_stated(const PowderPattern& r) noexcept {
    return !r.angles.empty() && r.angles.size() == static_cast<std::size_t>(r.point_count);
}

// The angle of point `i` (0-based) in degrees: stated, or on the grid.
inline double angle_at(const PowderPattern& r, int32_t i) noexcept {
    if (angles_stated(r)) return r.angles[static_cast<std::size_t>(i)];
    return static_cast<double>(r.two_theta_start) +
           static_cast<double>(i) * static_cast<double>(r.two_theta_step);
}

// Sets start, end and step from the stated angles (first, last, mean spacing).
void set_range_from_angles(PowderPattern& r) noexcept;

// Applies --to-wavelength and then --resample, each with a warning that says
// what moved; fails with a reason where the pattern does not allow it.
ConversionStatus apply_pattern_options(Workspace& ws, std::string_view file);

// Before the write: a record with stated angles only goes to a writer that
// holds them (status uneven_grid otherwise), an axis other than 2theta only to
// one that writes it, with a wavelength to compute it from.
ConversionStatus check_writer_holds(Workspace& ws, const FormatInfo& writer, std::string_view file);

}  // namespace qelda
