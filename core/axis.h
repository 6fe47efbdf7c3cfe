// The x axes a pattern can be written on: 2theta in degrees, the d-spacing in
// angstroms and the scattering vector Q in inverse angstroms, all from the
// wavelength lambda1; and the 2theta of the same d at another wavelength.
#pragma once

#include <optional>
#include <string_view>

namespace qelda {

enum class Axis { two_theta, d, q };

// "2theta", "d" or "q" (as the option takes them); nullopt for anything else.
std::optional<Axis> axis_named(std::string_view name) noexcept;
// The axis as headers name it: "2theta", "d", "Q".
std::string_view axis_label(Axis axis) noexcept;
// Its unit as headers name it: "degrees", "Å", "1/Å".
std::string_view axis_unit(Axis axis) noexcept;

// d = lambda / (2 sin theta), Q = 4 pi sin theta / lambda. `two_theta` in
// degrees; 2theta itself for Axis::two_theta. A d of 2theta = 0 is infinite.
double axis_value(Axis axis, double two_theta, double lambda) noexcept;
// The 2theta in degrees of an axis value (the inverse of axis_value); nullopt
// where no angle up to 180 degrees has it.
std::optional<double> two_theta_of(Axis axis, double value, double lambda) noexcept;

// The 2theta at wavelength `to` of the d seen at `two_theta` with wavelength
// `from`: 2 asin(to/from sin theta). nullopt where it would pass 180 degrees.
std::optional<double> two_theta_at_wavelength(double two_theta, double from, double to) noexcept;

}  // namespace qelda
