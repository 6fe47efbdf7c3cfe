// libqelda: read, write and recognise powder diffraction step scans from a
// program. Plain value types in, plain value types out; no prompts (every
// question a conversion may ask is answered by an option), no exceptions
// (a failure comes back as a status with its reason), no global state: calls
// from several threads at once are independent.
//
//   #include <qelda/qelda.h>
//   qelda::api::ReadResult r = qelda::api::read("scan.uxd");
//   if (!r.ok()) std::cerr << r.error.reason << '\n';
//   else std::cout << r.pattern.scans[0].intensity.size() << " points\n";
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__GNUC__)
#define QELDA_API __attribute__((visibility("default")))
#else
#define QELDA_API
#endif

namespace qelda::api {

inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 1;

// One scan: a value per point. Angles are stated for every point, so that a
// scan on an uneven grid needs no other type.
struct Scan {
    std::vector<double> two_theta;  // degrees
    std::vector<double> intensity;  // counts (or what the file holds)
    std::vector<double> sigma;      // uncertainties; empty when the file gives none
    double count_time = 0.0;        // seconds per step; 0 when unknown
};

struct Pattern {
    std::string title;         // without trailing blanks
    std::string format;        // short name of the format it was read from ("uxd"), or empty
    std::string source;        // the file it was read from (or the name given with bytes)
    double lambda1 = 0.0;      // Angstrom
    double lambda2 = 0.0;      // 0: a single line
    double alpha_ratio = 0.0;  // I(alpha2) / I(alpha1)
    std::vector<Scan> scans;   // a read gives one (the one asked for)
    std::vector<std::string> warnings;  // what the read left out or changed
};

// Why a call failed. The numbers of the conversion statuses, then the
// library's own.
enum class Status : int32_t {
    done = 0,
    record_error = 2,       // a record could not be read, or the output not written
    too_many_points = 3,    // more points than a record holds (100000)
    premature_end = 4,      // the input ended before its data were complete
    not_available = 5,      // format or variant not available
    too_large = 6,          // the dataset does not fit the output format
    aborted = 7,            // a statement failed; the message is its report
    open_failed = 8,        // the input could not be opened, or the output not created
    unknown_format = 9,     // the format could not be told, or no such format
    invalid_argument = 10,  // an option or the pattern handed in is not usable
    uneven_grid = 11        // the output format holds start and step only, the pattern each angle
};

// The name of a status ("premature_end").
QELDA_API std::string_view status_name(Status status) noexcept;

struct Error {
    Status status = Status::done;
    std::string message;  // as the programs show it ("UNEXPECTED END OF FILE")
    std::string reason;   // why, in lower case, naming the file; may be empty
};

struct ReadOptions {
    // The input format by short name, list text or number; empty: told by the
    // name and the content, as qelda-convert does.
    std::string format;
    // For read_bytes: the file name the bytes had (its extension helps tell
    // the format; messages name it). Default "input".
    std::string name;
    int32_t scan = 1;               // which scan of a file that holds several (1-based)
    bool any_axis = false;          // also a scan whose axis is not 2theta
    bool keep_intensities = false;  // do not raise intensities below 0.001 by 0.001
    // Wavelengths for formats that hold none: alpha1, alpha2 (0: one line),
    // ratio. Unset: 1.5405, 1.5443, 0.5.
    std::optional<std::array<double, 3>> wavelengths;
    std::optional<std::string> title;     // x-y input: the title
    std::optional<double> count_time;     // x-y input: seconds per step (default 1)
    std::optional<int32_t> header_lines;  // x-y input: lines to skip (default: detected)
    bool read_sigma = false;              // x-y input: a third column holds sigma
    // Values that replace what the file states, each with a warning naming
    // both (one of a value and its override).
    std::optional<std::array<double, 3>> override_wavelengths;
    std::optional<std::string> override_title;
    std::optional<double> override_count_time;
    // Done to the scan after the read, each with a warning: re-expressed at
    // this wavelength (angstrom) at equal d, then put on an even grid of this
    // step (degrees; 0: the scan's median step) by linear interpolation.
    std::optional<double> to_wavelength;
    std::optional<double> resample;
};

struct ReadResult {
    Pattern pattern;  // complete when ok()
    Error error;
    bool ok() const noexcept { return error.status == Status::done; }
};

QELDA_API ReadResult read(const std::string& path, const ReadOptions& options = {});
QELDA_API ReadResult read_bytes(std::string_view bytes, const ReadOptions& options = {});

struct WriteOptions {
    bool write_title = true;       // x-y: a title line
    bool write_sigma = false;      // x-y: a third column of sigma
    bool slit_correction = false;  // GSAS: renormalise variable-slit data
    bool sync = false;             // flush the file and its folder to the disk
    int32_t scan = 1;              // which scan of the pattern is written (1-based)
    // The x axis of xy, xye, cif and json output: "2theta", "d" (angstrom) or
    // "q" (1/angstrom), from the pattern's lambda1.
    std::string axis = "2theta";
};

struct WriteResult {
    Error error;
    std::vector<std::string> warnings;  // what the write changed (a title cut short)
    bool ok() const noexcept { return error.status == Status::done; }
};

// Writes a scan of `pattern` in `format` (short name, list text or number)
// to `path`. The file is replaced only when the whole output was written; a
// failed write leaves it as it was. A scan whose angles do not lie on one even
// grid goes to the formats that hold each angle (xy, xye, fxye, cif, json,
// nexus); the others refuse it with Status::uneven_grid.
QELDA_API WriteResult write(const Pattern& pattern, std::string_view format,
                            const std::string& path, const WriteOptions& options = {});
// The same, into memory.
QELDA_API WriteResult write_bytes(const Pattern& pattern, std::string_view format,
                                  std::string& bytes, const WriteOptions& options = {});

struct Detection {
    std::string format;  // short name; empty when not told
    std::string how;     // "extension .uxd", "content: begins with RAW_"
    std::string error;   // why no format was told
    bool ok() const noexcept { return !format.empty(); }
};

// The format of a file, as qelda-convert tells it: by its last extension, or
// by its content when the extension names no format or a shared one.
QELDA_API Detection detect(const std::string& path);
QELDA_API Detection detect_bytes(std::string_view bytes, std::string_view name = {});
// The output format a file name asks for by its last extension (".gsa": gsas).
QELDA_API Detection output_format(std::string_view name);

struct FormatEntry {
    int32_t id = 0;
    std::string name;       // short name ("uxd")
    std::string list_text;  // the window's list entry ("Siemans uxd")
    std::string extension;  // "*.uxd"
    bool reads = false;
    bool writes = false;
};

// Every format, in the window's list order.
QELDA_API std::vector<FormatEntry> formats();

}  // namespace qelda::api
