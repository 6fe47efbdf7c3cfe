// The interaction of the core, answered with the window's dialogs: the
// dataset, failure and success dialogs (102-104), the prompts (105-108) and
// the main dialog's reset.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "core/interaction.h"
#include "ui/dialog_builder.h"

class QWidget;

namespace qelda::ui {

class WindowInteraction final : public Interaction {
  public:
    // `console` receives "Error: dialog not found" when a dialog cannot be built.
    explicit WindowInteraction(std::FILE* console = stderr) : console_(console) {}

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
};

}  // namespace qelda::ui
