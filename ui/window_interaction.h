// The interaction of the core, answered with the window's dialogs: the
// dataset, failure and success dialogs (102-104), the prompts (105-108) and
// the main dialog's reset.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/format_table.h"
#include "core/interaction.h"
#include "core/workspace.h"
#include "ui/dialog_builder.h"

class QWidget;

namespace qelda::ui {

class ScanList;

class WindowInteraction final : public Interaction {
  public:
    // `console` receives "Error: dialog not found" when a dialog cannot be built.
    explicit WindowInteraction(std::FILE* console = stderr);
    ~WindowInteraction() override;

    // The window over which the dialogs open (the main dialog).
    void set_owner(QWidget* owner) noexcept { owner_ = owner; }
    QWidget* owner() const noexcept { return owner_; }
    // What reset_selection does (the main dialog's reset).
    void set_reset(std::function<void()> reset) { reset_ = std::move(reset); }

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

    // Writes "Error: dialog not found" on the console.
    void report_missing_dialog() const;

    // Cancel or Escape on the dataset dialog or a prompt: the conversion in
    // hand stops and no further dialog of it opens. Cleared before each one.
    bool cancelled() const override { return cancelled_; }
    void clear_cancelled() noexcept { cancelled_ = false; }

    // The files of the conversion in hand, which the prompts name: the reader's
    // prompts the input, the writer's the output. Empty: none named.
    void set_files(std::string input, std::string output) {
        input_file_ = std::move(input);
        output_file_ = std::move(output);
    }

    // The conversion in hand reads the input file of set_files (set first)
    // into `ws` as `format` with the
    // codecs of `table`: when a read tells of several scans, the dataset
    // dialog offers them. Choosing another scan there cancels the conversion
    // (the selection stays) and chosen_scan() tells which; the caller converts
    // again with that scan. nullptr: no scans offered (after the conversion).
    void offer_scans(const Workspace* ws, FormatId format = FormatId::none,
                     std::span<const FormatInfo> table = {});
    // The scan chosen in the dataset dialog; cleared when taken.
    std::optional<int32_t> take_chosen_scan() noexcept;
    // While a chosen scan is read again, the reader's prompts are answered as
    // they were the first time instead of asking again.
    void set_replay_prompts(bool on) noexcept { replay_prompts_ = on; }

  private:
    // Runs a made dialog modally; false (after the report) when it is missing
    // or was cancelled.
    bool run(const std::unique_ptr<TemplateDialog>& dialog);
    // Runs a prompt about `file`, named above its controls.
    bool run_prompt(const std::unique_ptr<TemplateDialog>& dialog, const std::string& file);

    std::FILE* console_;
    QWidget* owner_ = nullptr;
    std::function<void()> reset_;
    bool cancelled_ = false;
    std::string input_file_;
    std::string output_file_;
    // The scans offered, and what the user chose among them.
    const Workspace* scan_ws_ = nullptr;
    std::string scan_path_;
    FormatId scan_format_ = FormatId::none;
    std::span<const FormatInfo> scan_table_;
    std::unique_ptr<ScanList> scans_;  // outlives every dialog that lists them
    std::optional<int32_t> chosen_scan_;
    // The reader's prompts as last answered, replayed for a chosen scan.
    bool replay_prompts_ = false;
    std::optional<WavelengthEntries> last_wavelengths_;
    std::optional<XyInputEntries> last_xy_input_;
};

}  // namespace qelda::ui
