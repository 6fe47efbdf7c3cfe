// Dialogs 102-104: the dataset parameters, the failure and the success. Each
// is made filled and then run modally by the caller; the texts come from
// core/display_texts.h, so that the window and the command line agree.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/powder_pattern.h"
#include "ui/dialog_builder.h"

namespace qelda::ui {

// 1012 the title, 1016-1018 the angles (F8.3), 1022-1024 the wavelengths and
// the ratio (F7.5), 1020 the point count (I5, in full when it needs more).
// The warnings of the read, when there are any, below the template's controls
// (object name "warnings").
std::unique_ptr<TemplateDialog> make_dataset_dialog(const PowderPattern& record,
                                                    std::span<const std::string> warnings = {},
                                                    QWidget* parent = nullptr);
// 1020 the message up to its first run of five blanks; the reason, when there
// is one, below the template's controls (object name "reason").
std::unique_ptr<TemplateDialog> make_failure_dialog(std::string_view failure_message,
                                                    std::string_view reason = {},
                                                    QWidget* parent = nullptr);

// Adds a word-wrapped note below the controls of the template, growing the
// dialog to hold it.
void add_note_below(TemplateDialog& dialog, const QString& object_name, const QString& text);
// Shows the file name of `path` in a field: elided in the middle with "…" when
// it is too long for the field, the full path as the field's tooltip.
void show_file_name(TemplateDialog& dialog, int id, const std::string& path);

// 1021 the count line, 1024 and 1025 the file names of the two paths.
// The warnings of the write, when there are any, below the template's controls
// (object name "warnings").
std::unique_ptr<TemplateDialog> make_success_dialog(const PowderPattern& record,
                                                    const ConversionSession& session,
                                                    QWidget* parent = nullptr,
                                                    std::span<const std::string> warnings = {});

}  // namespace qelda::ui
