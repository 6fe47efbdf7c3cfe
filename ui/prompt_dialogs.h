// Dialogs 105-108, the prompts that codecs open. Each is made with its
// starting contents, run modally by the caller, and read back into the texts
// of its boxes; the core (core/prompts.h) applies the layouts and rules.
//
// A number box that would not read under its layout keeps the prompt open:
// the box is marked, says what is wrong, and gets the focus. Every prompt has a
// Cancel button left of OK: Cancel or Escape stops the conversion.
#pragma once

#include <memory>
#include <string_view>

#include "core/interaction.h"
#include "ui/dialog_builder.h"

namespace qelda::ui {

// 1029, 1030 and 1032 start as "1.5405", "1.5443" and "0.5".
std::unique_ptr<TemplateDialog> make_wavelength_prompt(QWidget* parent = nullptr);
WavelengthEntries read_wavelength_prompt(const TemplateDialog& d);

// 1034 starts with the current title, 1035 empty, 1037 the detected number of
// header lines, 1038 unticked.
std::unique_ptr<TemplateDialog> make_xy_input_prompt(std::string_view current_title,
                                                     int32_t header_lines = 0,
                                                     QWidget* parent = nullptr);
XyInputEntries read_xy_input_prompt(const TemplateDialog& d);

// 1040 unticked; ticking it shows the warning in 1041, unticking blanks it.
std::unique_ptr<TemplateDialog> make_slit_prompt(QWidget* parent = nullptr);
bool read_slit_prompt(const TemplateDialog& d);

// 1042 ticked, 1043 the current title, 1044 unticked.
std::unique_ptr<TemplateDialog> make_ascii_output_prompt(std::string_view current_title,
                                                         QWidget* parent = nullptr);
AsciiOutputEntries read_ascii_output_prompt(const TemplateDialog& d);

// The property set on a refused box (true while it is marked).
inline constexpr const char* kRefusedProperty = "refused";

}  // namespace qelda::ui
