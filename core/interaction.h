// The interaction: the eight synchronous operations through which the driver
// and the codecs reach the user. The window implements it with dialogs; the
// command line and the tests answer from values given up front.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/powder_pattern.h"

namespace qelda {

// What the user typed into the wavelength prompt's three boxes.
struct WavelengthEntries {
    std::string alpha1 = "1.5405";
    std::string alpha2 = "1.5443";
    std::string ratio = "0.5";
    // False when nobody chose them: the defaults, answered for the user (the
    // command line without --wavelengths).
    bool chosen = true;
};

// The x-y input prompt's boxes: title, count time, header lines, read sigma.
struct XyInputEntries {
    std::string title;
    std::string count_time;
    std::string header_lines = "0";
    bool read_sigma = false;
};

// The ascii output prompt's boxes.
struct AsciiOutputEntries {
    bool write_title = true;
    std::string title;
    bool write_sigma = false;
};

class Interaction {
  public:
    virtual ~Interaction() = default;

    // Shows what the reader left in the record, and the warnings of the read;
    // returns when the user closes it.
    virtual void show_dataset_parameters(const PowderPattern& record,
                                         std::span<const std::string> warnings) = 0;
    // Shows a failure message (blank-padded; shown up to its first five blanks)
    // and, when known, the reason in lower case.
    virtual void show_failure(std::string_view failure_message, std::string_view reason) = 0;
    // Shows the count converted and the two file names, and the warnings of
    // the write (what the output could not hold as read).
    virtual void show_success(const PowderPattern& record, const ConversionSession& session,
                              std::span<const std::string> warnings) = 0;
    // Clears the file selection of the main dialog.
    virtual void reset_selection() = 0;

    // The four prompts return what the user left in their boxes; the core
    // applies the rules (layouts, defaults) to those texts.
    virtual WavelengthEntries wavelength_prompt() = 0;
    // `detected_header_lines`: the leading lines of the file that are not data
    // rows, which the header lines box starts with.
    virtual XyInputEntries xy_input_prompt(std::string_view current_title,
                                           int32_t detected_header_lines) = 0;
    virtual AsciiOutputEntries ascii_output_prompt(std::string_view current_title) = 0;
    virtual bool slit_prompt() = 0;

    // True once the user has cancelled the conversion in hand (Cancel or Escape
    // on the dataset dialog or a prompt): the driver then writes nothing and
    // shows nothing more.
    virtual bool cancelled() const { return false; }
};

// Answers every prompt from values given up front and records what was shown.
// Unset titles default to the current title, as pressing OK at once would.
class ScriptedInteraction : public Interaction {
  public:
    struct Answers {
        WavelengthEntries wavelengths;
        bool title_given = false;
        std::string title;
        std::string count_time;
        std::string header_lines;  // empty: the number the reader detected
        bool read_sigma = false;
        bool write_title = true;
        bool write_sigma = false;
        bool slit_correction = false;
    };

    ScriptedInteraction() = default;
    explicit ScriptedInteraction(Answers answers) : answers_(std::move(answers)) {}

    Answers& answers() noexcept { return answers_; }

    void show_dataset_parameters(const PowderPattern& record,
                                 std::span<const std::string> warnings) override;
    void show_failure(std::string_view failure_message, std::string_view reason) override;
    void show_success(const PowderPattern& record, const ConversionSession& session,
                      std::span<const std::string> warnings) override;
    void reset_selection() override;
    WavelengthEntries wavelength_prompt() override;
    XyInputEntries xy_input_prompt(std::string_view current_title,
                                   int32_t detected_header_lines) override;
    AsciiOutputEntries ascii_output_prompt(std::string_view current_title) override;
    bool slit_prompt() override;

    // What happened, in order: "dataset", "failure:<text>", "success", "reset",
    // "wavelength", "xy_input", "ascii_output", "slit".
    const std::vector<std::string>& events() const noexcept { return events_; }
    void clear_events() { events_.clear(); }
    // The failure text as the failure dialog shows it, or empty.
    const std::string& last_failure() const noexcept { return last_failure_; }
    // The reason shown with the last failure, and the warnings of the last read.
    const std::string& last_reason() const noexcept { return last_reason_; }
    const std::vector<std::string>& last_warnings() const noexcept { return last_warnings_; }
    // The warnings of the last successful write.
    const std::vector<std::string>& last_write_warnings() const noexcept {
        return last_write_warnings_;
    }

  private:
    Answers answers_;
    std::vector<std::string> events_;
    std::string last_failure_;
    std::string last_reason_;
    std::vector<std::string> last_warnings_;
    std::vector<std::string> last_write_warnings_;
};

}  // namespace qelda
