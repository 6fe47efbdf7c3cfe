#include "ui/window_interaction.h"

#include "ui/prompt_dialogs.h"
#include "ui/result_dialogs.h"

namespace qelda::ui {

void WindowInteraction::report_missing_dialog() const {
    std::fprintf(console_, "%s\n", kDialogNotFound);
    std::fflush(console_);
}

bool WindowInteraction::run(const std::unique_ptr<TemplateDialog>& dialog) {
    if (!dialog) {
        report_missing_dialog();
        return false;
    }
    dialog->exec();
    if (dialog->cancelled()) cancelled_ = true;
    return !dialog->cancelled();
}

bool WindowInteraction::run_prompt(const std::unique_ptr<TemplateDialog>& dialog,
                                   const std::string& file) {
    if (dialog && !file.empty()) name_file_above(*dialog, file);
    return run(dialog);
}

void WindowInteraction::show_dataset_parameters(const PowderPattern& record,
                                                std::span<const std::string> warnings) {
    if (cancelled_) return;
    run(make_dataset_dialog(record, warnings, owner_, input_file_));
}

void WindowInteraction::show_failure(std::string_view failure_message, std::string_view reason) {
    run(make_failure_dialog(failure_message, reason, owner_));
}

void WindowInteraction::show_success(const PowderPattern& record, const ConversionSession& session,
                                     std::span<const std::string> warnings) {
    run(make_success_dialog(record, session, owner_, warnings));
}

void WindowInteraction::reset_selection() {
    if (reset_) reset_();
}

// A prompt that cannot be built answers as if OK had been pressed at once; after
// a Cancel none opens, and the answers are the starting ones (nothing is
// written with them).

WavelengthEntries WindowInteraction::wavelength_prompt() {
    if (cancelled_) return {};
    const auto d = make_wavelength_prompt(owner_);
    return run_prompt(d, input_file_) ? read_wavelength_prompt(*d) : WavelengthEntries{};
}

XyInputEntries WindowInteraction::xy_input_prompt(std::string_view current_title,
                                                  int32_t detected_header_lines) {
    const auto d = cancelled_ ? std::unique_ptr<TemplateDialog>()
                              : make_xy_input_prompt(current_title, detected_header_lines, owner_);
    if (!cancelled_ && run_prompt(d, input_file_)) return read_xy_input_prompt(*d);
    XyInputEntries e;
    e.title = std::string(current_title);
    e.header_lines = std::to_string(detected_header_lines);
    return e;
}

AsciiOutputEntries WindowInteraction::ascii_output_prompt(std::string_view current_title) {
    const auto d = cancelled_ ? std::unique_ptr<TemplateDialog>()
                              : make_ascii_output_prompt(current_title, owner_);
    if (!cancelled_ && run_prompt(d, output_file_)) return read_ascii_output_prompt(*d);
    AsciiOutputEntries e;
    e.title = std::string(current_title);
    return e;
}

bool WindowInteraction::slit_prompt() {
    if (cancelled_) return false;
    const auto d = make_slit_prompt(owner_);
    return run_prompt(d, output_file_) && read_slit_prompt(*d);
}

}  // namespace qelda::ui
