// The record holds a scan as start, step and count: point i lies at
// start + (i-1)*step. Files that state every angle must lie on that grid, or
// converting them would move points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qelda {

// The decimals printed in a number's text ("12.345" 3, "12" 0, "1.2e-3" 4).
int32_t printed_decimals(std::string_view number) noexcept;

struct GridMiss {
    std::size_t index = 0;  // 0-based point
    double off = 0.0;       // the angle minus its place on the grid
};

// The first angle that misses start + i*step by more than the larger of half a
// unit of its last printed decimal and a quarter of the step: encoder positions
// jitter and files print rounded angles, but an uneven grid misses by whole
// steps. `decimals` gives each angle's printed decimals (or is empty: only the
// quarter step counts).
std::optional<GridMiss> first_off_grid(std::span<const double> angles,
                                       std::span<const int8_t> decimals, double start,
                                       double step) noexcept;

// "scan.xy, line 12: 2theta 20.05 is off the even grid of the scan (start 10,
// step 0.02) by 0.01; the record cannot hold an uneven grid" -- `where` names
// the file and line (or point).
std::string off_grid_reason(std::string_view where, double angle, double off, double start,
                            double step);

// "scan.xy, line 12: 2theta 20.05 is the first angle off one even grid; every
// angle is kept as stated" -- the warning of a reader that keeps the angles.
std::string off_grid_note(std::string_view where, double angle);

}  // namespace qelda
