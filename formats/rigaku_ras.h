// What Rigaku RAS and RASX files share: the rows of the data ("angle intensity
// attenuation"), the counting time from the scan speed, and the wavelengths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "formats/instrument_scan.h"

namespace qelda {

// Reads the rows of `text` into scan.angles (with their decimals), scan.counts
// and, where an attenuation factor is not 1, scan.sigma. A row holds the angle,
// the intensity and optionally the attenuation factor by which the intensity is
// multiplied; blank lines are skipped and a byte-order mark before the first row
// is ignored. `first_line` is the line number of the text's first line. False
// with `why` naming the line ("line 412: '1.2.3' is not a number"), and that
// line's number in `failed_line` when given.
bool parse_ras_rows(std::string_view text, int32_t first_line, InstrumentScan& scan,
                    std::string& why, int32_t* failed_line = nullptr);

// Seconds per step: the speed in seconds when its unit is one ("sec."), else a
// speed in degrees per minute (or per second) over the step. 0 when the unit is
// not one of these or the numbers do not make a time.
double rigaku_time_per_step(double speed, std::string_view unit, double step) noexcept;

// The wavelengths of a Rigaku file: K-alpha1 alone when the wave type is "Ka1",
// K-beta alone for "Kb", else both alpha lines. The files give no intensity
// ratio of the two, so 0.5 is taken and a note says so. None without alpha1.
std::optional<Wavelengths> rigaku_wavelengths(std::string_view alpha1, std::string_view alpha2,
                                              std::string_view beta, std::string_view wave_type,
                                              const std::string& where,
                                              std::vector<std::string>& notes);

}  // namespace qelda
