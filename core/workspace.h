// The workspace: the record, the session, the two units and the interaction,
// handed to every codec. One instance lives for the whole run.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/axis.h"
#include "core/interaction.h"
#include "core/powder_pattern.h"
#include "core/record_io.h"
#include "core/scan_info.h"

namespace qelda {

// Local date and time, as the Stoe raw header stamps it.
struct LocalTime {
    int day = 1;
    int month = 1;
    int year = 1970;
    int hour = 0;
    int minute = 0;
};

LocalTime system_local_time();

// What the user asked of a read beyond the prompts (command-line options, the
// batch dialog): which scan of a file that holds several, whether a scan
// whose axis is not 2theta may be converted, and whether intensities below
// 0.001 keep their values instead of all being raised by 0.001.
struct ReadOptions {
    int32_t scan = 1;  // 1-based, counting every scan of the file in its order
    // Every scan of a file is converted, one output each: the title names the
    // scan's number.
    bool all_scans = false;
    bool any_axis = false;
    bool keep_intensities = false;
    // An x-y file's third column is not read as sigma(I) unless asked for,
    // even where the extension or the header says it holds sigma.
    bool no_sigma = false;
    // Values given up front (--wavelengths, --title, --count-time) are used
    // where the file states none; where it states its own, a warning says they
    // were not used.
    bool wavelengths_given = false;
    bool title_given = false;
    bool count_time_given = false;
    // Values that replace what the file states (--override-...), each with a
    // warning that names both.
    std::optional<std::array<float, 3>> override_wavelengths;  // L1, L2, ratio
    std::optional<std::string> override_title;
    std::optional<float> override_count_time;
};

// What the user asked to be done to the pattern between the read and the
// write (--to-wavelength, --resample, --axis). Nothing is done unless asked.
struct PatternOptions {
    std::optional<double> to_wavelength;  // angstrom: the same d at this wavelength
    std::optional<double> resample_step;  // degrees; 0: the median step of the scan
    Axis axis = Axis::two_theta;          // the x of the writers that hold any axis
};

// Where the record's wavelengths came from.
enum class WavelengthOrigin {
    file,     // the file states them (or the reader asked nobody)
    user,     // typed into the wavelength prompt, or given as an option
    assumed,  // the prompt's defaults, which nobody chose
};

class Workspace {
  public:
    explicit Workspace(Interaction& interaction)
        : record_(std::make_unique<PowderPattern>()), interaction_(&interaction) {}

    PowderPattern& record() noexcept { return *record_; }
    const PowderPattern& record() const noexcept { return *record_; }
    ConversionSession& session() noexcept { return session_; }
    InputUnit& input() noexcept { return input_; }     // unit 1
    OutputUnit& output() noexcept { return output_; }  // unit 2
    const InputUnit& input() const noexcept { return input_; }
    const OutputUnit& output() const noexcept { return output_; }
    Interaction& interaction() noexcept { return *interaction_; }
    void set_interaction(Interaction& interaction) noexcept { interaction_ = &interaction; }

    // The local clock; tests replace it to fix the Stoe date stamp.
    std::function<LocalTime()> local_time = system_local_time;

    // The report of the last aborted statement (status `aborted`).
    std::string abort_report;

    ReadOptions options;
    PatternOptions pattern_options;
    // What the last read told of its scan (cleared with the diagnostics).
    ScanInfo scan;

    // Why the codec failed, in lower case, naming the file and where reading
    // stopped ("scan.dat, line 5: 'NaN' is not a number"). Codecs end with
    // `return ws.fail(status, reason);`.
    std::string failure_reason;
    // For readers of binary files and archives, which have no lines: the byte
    // of the input where reading failed, shown in the headline instead of a
    // line number. kNoByte when not known.
    static constexpr std::size_t kNoByte = static_cast<std::size_t>(-1);
    std::size_t failure_byte = kNoByte;
    ConversionStatus fail(ConversionStatus status, std::string reason) {
        failure_reason = std::move(reason);
        return status;
    }
    // What a successful read left out or changed ("scan.uxd holds 16 ranges;
    // range 1 converted"); shown with the dataset parameters.
    std::vector<std::string> warnings;
    void warn(std::string text) { warnings.push_back(std::move(text)); }
    // True when the file gave uncertainties of the intensities. A reader may set
    // it; the driver also sets it when the read left any sigma entry nonzero.
    bool has_sigma = false;
    // What the driver added to every intensity between the read and the write
    // (0.001 when one was below it, else 0): writers take a count so raised
    // for the whole count it was.
    float intensity_shift = 0.0f;
    // Where the wavelengths of the last read came from: the driver sets `file`
    // before a read, the wavelength prompt `user` or `assumed`.
    WavelengthOrigin wavelength_origin = WavelengthOrigin::file;
    // Which prompts of the user's own values the conversion asked: their
    // answers are what the user stated. The driver clears them before a read.
    struct PromptsAsked {
        bool xy_input = false;
        bool ascii_output = false;
    } asked;
    void clear_diagnostics() noexcept {
        failure_reason.clear();
        failure_byte = kNoByte;
        warnings.clear();
        scan = ScanInfo{};
    }

  private:
    std::unique_ptr<PowderPattern> record_;
    ConversionSession session_;
    InputUnit input_;
    OutputUnit output_;
    Interaction* interaction_;
};

}  // namespace qelda
