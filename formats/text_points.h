// What the xye, FXYE and CIF writers print for each point: the angle of the
// record's grid, the intensity and its uncertainty, each as the shortest
// decimal that reads back as the same single-precision value.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/pattern_options.h"
#include "core/workspace.h"

namespace qelda {

// The shortest decimal text that reads back as `v` ("10", "0.02", "1e-05").
// `out` must hold 32 characters; returns the end of the text.
char* put_shortest(char* out, float v) noexcept;

// The step the x-y reader derives from the first and last angles of a file
// (`end_decimals`: the decimals the last angle is printed with).
float xy_step_read_back(float start, float end, int32_t points, int32_t end_decimals) noexcept;

// What a header line says of one scan of several: "Scan 3 of 22: axis COUPLED;
// chi -0.17; phi 0; temperature 313.69 K; measured 2016-02-10 17:25:12" (only
// what its file states).
std::string scan_description(const ScanInfo& scan);

// Angle of point `i` (0-based), stated or on the record's grid, in single
// precision.
inline float point_angle(const PowderPattern& r, int32_t i) noexcept {
    return static_cast<float>(angle_at(r, i));
}

// The x of point `i` on the axis asked for (--axis): 2theta, d or Q.
inline float point_x(const Workspace& ws, int32_t i) noexcept {
    const PowderPattern& r = ws.record();
    const Axis axis = ws.pattern_options.axis;
    if (axis == Axis::two_theta) return point_angle(r, i);
    return static_cast<float>(axis_value(axis, angle_at(r, i), r.lambda1));
}

// True when the points are written one angle each rather than as start and
// step: stated angles, or an axis other than 2theta.
inline bool per_point_x(const Workspace& ws) noexcept {
    return angles_stated(ws.record()) || ws.pattern_options.axis != Axis::two_theta;
}

// The uncertainties written: the file's where it gave one above 0, otherwise
// sqrt(I) (1 where I is not above 0). `warn` names what was computed.
class WrittenSigma {
  public:
    explicit WrittenSigma(const Workspace& ws) noexcept
        : r_(ws.record()), from_file_(ws.has_sigma) {}
    float operator()(int32_t i) noexcept {
        const float s = from_file_ ? r_.sigma.data()[i] : 0.0f;
        if (s > 0.0f) return s;
        ++computed_;
        const float y = r_.intensity.data()[i];
        if (y > 0.0f) return std::sqrt(y);
        ++unit_;
        return 1.0f;
    }
    // After every point: a warning when any sigma was computed.
    void warn(Workspace& ws, std::string_view format) const;

  private:
    const PowderPattern& r_;
    bool from_file_;
    int32_t computed_ = 0;
    int32_t unit_ = 0;
};

// The title as a line of text: control characters (NUL padding of fixed-width
// fields above all) become blanks, trailing blanks go; a warning names those
// that stood inside the title.
std::string title_line(Workspace& ws, std::string_view format);

// Fails (status too_large, naming the point) when an angle, intensity or
// uncertainty to be written is not a finite number, and when there is no point.
ConversionStatus check_finite(Workspace& ws, std::string_view format);

}  // namespace qelda
