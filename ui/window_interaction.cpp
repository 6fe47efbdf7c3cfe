#include "ui/window_interaction.h"

#include "ui/prompt_dialogs.h"
#include "ui/result_dialogs.h"
#include "ui/scan_chooser.h"

namespace qelda::ui {

WindowInteraction::WindowInteraction(std::FILE* console) : console_(console) {}

WindowInteraction::~WindowInteraction() = default;

void WindowInteraction::offer_scans(const Workspace* ws, FormatId format,
                                    std::span<const FormatInfo> table) {
    scan_ws_ = ws;
    scan_path_ = ws != nullptr ? input_file_ : std::string();
    scan_format_ = format;
    scan_table_ = table;
    scans_.reset();
    chosen_scan_.reset();
    if (ws == nullptr) {
        replay_prompts_ = false;
        last_wavelengths_.reset();
        last_xy_input_.reset();
    }
}

std::optional<int32_t> WindowInteraction::take_chosen_scan() noexcept {
    return std::exchange(chosen_scan_, std::nullopt);
}

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
    const Workspace* ws = scan_ws_;
    if (ws == nullptr || ws->scan.count < 2) {
        run(make_dataset_dialog(record, warnings, owner_, input_file_));
        return;
    }
    const std::string& path = scan_path_;
    if (!scans_ || scans_->source().path != path || scans_->count() != ws->scan.count)
        scans_ = std::make_unique<ScanList>(
            ScanSource{path, scan_format_, scan_table_, ws->options, ws->scan.count});
    const int32_t current = ws->scan.number > 0 ? ws->scan.number : ws->options.scan;
    ScanList& scans = *scans_;
    run(make_dataset_dialog(record, warnings, owner_, input_file_,
                            [this, &scans, current](TemplateDialog& d) {
                                add_scan_chooser(d, scans, current, [this, &d](int32_t n) {
                                    chosen_scan_ = n;
                                    d.reject();
                                });
                            }));
}

void WindowInteraction::show_failure(std::string_view failure_message, std::string_view reason) {
    run(make_failure_dialog(failure_message, reason, owner_));
}

void WindowInteraction::show_success(const PowderPattern& record, const ConversionSession& session,
                                     std::span<const std::string> warnings) {
    run(make_success_dialog(record, session, owner_, warnings));
}

void WindowInteraction::reset_selection() {
    // A conversion cancelled for another scan keeps the files chosen.
    if (chosen_scan_) return;
    if (reset_) reset_();
}

// A prompt that cannot be built answers as if OK had been pressed at once; after
// a Cancel none opens, and the answers are the starting ones (nothing is
// written with them).

WavelengthEntries WindowInteraction::wavelength_prompt() {
    if (cancelled_) return {};
    if (replay_prompts_ && last_wavelengths_) return *last_wavelengths_;
    const auto d = make_wavelength_prompt(owner_);
    if (!run_prompt(d, input_file_)) return {};
    last_wavelengths_ = read_wavelength_prompt(*d);
    return *last_wavelengths_;
}

XyInputEntries WindowInteraction::xy_input_prompt(std::string_view current_title,
                                                  int32_t detected_header_lines) {
    if (!cancelled_ && replay_prompts_ && last_xy_input_) return *last_xy_input_;
    const auto d = cancelled_ ? std::unique_ptr<TemplateDialog>()
                              : make_xy_input_prompt(current_title, detected_header_lines, owner_);
    if (!cancelled_ && run_prompt(d, input_file_)) {
        last_xy_input_ = read_xy_input_prompt(*d);
        return *last_xy_input_;
    }
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
