#include "core/interaction.h"

#include <ctime>

#include "core/display_texts.h"
#include "core/workspace.h"

namespace qelda {

LocalTime system_local_time() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min};
}

void ScriptedInteraction::show_dataset_parameters(const PowderPattern&,
                                                  std::span<const std::string> warnings) {
    events_.emplace_back("dataset");
    last_warnings_.assign(warnings.begin(), warnings.end());
}

void ScriptedInteraction::show_failure(std::string_view message, std::string_view reason) {
    last_failure_ = std::string(displayed_failure(message));
    last_reason_ = std::string(reason);
    events_.push_back("failure:" + last_failure_);
}

void ScriptedInteraction::show_success(const PowderPattern&, const ConversionSession&,
                                       std::span<const std::string> warnings) {
    events_.emplace_back("success");
    last_write_warnings_.assign(warnings.begin(), warnings.end());
}

void ScriptedInteraction::reset_selection() {
    events_.emplace_back("reset");
}

WavelengthEntries ScriptedInteraction::wavelength_prompt() {
    events_.emplace_back("wavelength");
    return answers_.wavelengths;
}

XyInputEntries ScriptedInteraction::xy_input_prompt(std::string_view current_title,
                                                    int32_t detected_header_lines) {
    events_.emplace_back("xy_input");
    XyInputEntries e;
    e.title = answers_.title_given ? answers_.title : std::string(current_title);
    e.count_time = answers_.count_time;
    e.header_lines = answers_.header_lines.empty() ? std::to_string(detected_header_lines)
                                                   : answers_.header_lines;
    e.read_sigma = answers_.read_sigma;
    return e;
}

AsciiOutputEntries ScriptedInteraction::ascii_output_prompt(std::string_view current_title) {
    events_.emplace_back("ascii_output");
    AsciiOutputEntries e;
    e.write_title = answers_.write_title;
    e.title = answers_.title_given ? answers_.title : std::string(current_title);
    e.write_sigma = answers_.write_sigma;
    return e;
}

bool ScriptedInteraction::slit_prompt() {
    events_.emplace_back("slit");
    return answers_.slit_correction;
}

}  // namespace qelda
