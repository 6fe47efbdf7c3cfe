// What a reader tells of the scan it converted beyond the record: which scan
// of how many, its axis and the conditions it was measured under. Readers fill
// what their files state; everything else stays unset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qelda {

struct ScanInfo {
    int32_t number = 0;  // 1-based; 0 when the reader does not tell
    int32_t count = 0;   // the scans the file holds; 0 when the reader does not tell
    std::string axis;    // as the file names it ("2Theta", "COUPLED", "Phi"); empty: not stated
    // Set when the read refused the scan asked for because its axis is not 2theta.
    bool axis_refused = false;
    // Angles that stood still during the scan, in degrees, where stated.
    std::optional<double> omega;
    std::optional<double> chi;
    std::optional<double> phi;
    std::optional<double> temperature;  // kelvin
    std::string measured_at;            // the time of measurement as the file states it
};

// The title of scan `number` of `count`: "<title>, scan 3 of 22", the title
// cut where needed so that the whole fits `length` characters.
std::string scan_title(std::string_view title, int32_t number, int32_t count, std::size_t length);

// The output name of scan `number` of `count`: NAME_03.EXT for "NAME.EXT", the
// number zero-padded to the digits of `count` (at least two).
std::string scan_output_name(std::string_view output, int32_t number, int32_t count);

}  // namespace qelda
