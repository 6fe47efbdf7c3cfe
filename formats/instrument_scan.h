// What the readers of today's instrument files share: the scan a reader found
// in the file, the choice among several scans, the checks of its angles and the
// storing in the record, and the bounded parsing of numbers and XML.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "core/workspace.h"

namespace qelda {

struct Wavelengths {
    float alpha1 = 0.0f;
    float alpha2 = 0.0f;  // 0: a single line
    float ratio = 0.0f;
};

// One scan as a file gives it.
struct InstrumentScan {
    std::string axis;        // as the file names it ("2Theta", "Phi", "2-Theta/Omega")
    bool two_theta = false;  // the scan moves 2theta
    static constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
    double start = kUnset;  // as stated; NaN when the file does not state it
    double stop = kUnset;
    double step = kUnset;
    std::vector<double> angles;              // each point's angle, where the file lists them
    std::vector<int8_t> decimals;            // the printed decimals of those angles (or empty)
    std::vector<double> counts;              // per point, already corrected for attenuation
    std::vector<float> sigma;                // per point where the file lets us know better than
                                             // sqrt(count) (attenuated points), else empty
    double count_time = 0.0;                 // seconds per step; 0 when the file does not say
    bool per_second = false;                 // the intensities are counts per second
    std::optional<Wavelengths> wavelengths;  // none: the file names no wavelength
    std::string title;
    std::vector<std::string> notes;  // warnings, given only when this scan is converted
    // The conditions of the scan, where the file states them.
    std::optional<double> omega, chi, phi;  // fixed angles, degrees
    std::optional<double> temperature;      // kelvin
    std::string measured_at;
};

// Loads scan `index` (0-based, in file order) into `scan`. A failure returns its
// status, with the reason recorded through ws.fail.
using ScanLoader = std::function<ConversionStatus(int32_t index, InstrumentScan& scan)>;

// Converts one of the `count` scans of the file: the one ws.options.scan names
// (when above 1), else the first 2theta scan (with any_axis, simply scan 1). A
// scan whose axis is not 2theta is refused with its axis named unless any_axis;
// a file of several scans gets a warning naming the one converted.
ConversionStatus convert_scan(Workspace& ws, int32_t count, const ScanLoader& load);

// True for the axis names of scans that move 2theta: 2Theta, Gonio,
// 2Theta-Omega, TwoThetaTheta, "Theta/2-Theta" and their kin.
bool is_two_theta_axis(std::string_view axis) noexcept;

// Reads one number ("12.5", "-3", "1e3", "+2"); false for anything else,
// infinities and NaN included.
bool parse_number(std::string_view text, double& value) noexcept;

// Appends the blank-separated numbers of `text` to `out` (their printed
// decimals to `decimals` when given), at most `limit` of them: beyond that the
// scan cannot be held anyway. False with the offending text in `bad`.
bool parse_number_list(std::string_view text, std::vector<double>& out,
                       std::vector<int8_t>* decimals, std::size_t limit, std::string& bad);

// A number as reasons and warnings show it: up to 8 significant digits.
std::string number_text(double value);

// Text without blanks, tabs and line ends on either side.
std::string_view trim(std::string_view text) noexcept;

inline constexpr std::size_t kMaxXmlBytes = std::size_t{64} << 20;

// Readers that take the whole file into memory (Bruker RAW, RAS) refuse a file
// larger than this: no scan of theirs comes near it, and memory stays bounded.
inline constexpr std::size_t kMaxWholeFileBytes = std::size_t{256} << 20;

// Refuses a file above kMaxWholeFileBytes; ConversionStatus::done otherwise.
ConversionStatus refuse_oversized(Workspace& ws);

// Parses XML text in place (the text must outlive the document). No DTD is
// read and no external entity is ever fetched. Text above 256 MB, or so full of
// markup that its tree would take much more memory than the text itself, is
// refused. False with the reason in `why` ("line 12: mismatched end tag").
bool parse_xml(std::string& text, pugi::xml_document& doc, std::string& why);

// The element's name without a namespace prefix.
std::string_view local_name(pugi::xml_node node) noexcept;
// The first child element with this local name.
pugi::xml_node child_named(pugi::xml_node node, std::string_view local) noexcept;
// The first element with this local name below `node`, in document order.
pugi::xml_node descendant_named(pugi::xml_node node, std::string_view local) noexcept;
// The trimmed text of a child element (empty when absent).
std::string_view child_text(pugi::xml_node node, std::string_view local) noexcept;

}  // namespace qelda
