// Dialogs 102-104: the dataset parameters, the failure and the success. Each
// is made filled and then run modally by the caller; the texts come from
// core/display_texts.h, so that the window and the command line agree.
#pragma once

#include <functional>
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
// (object name "warnings"). Cancel (object name "cancel") or Escape stops the
// conversion. The plot is headed by the file name of `file` and the title; the
// dialog fits the screen it opens on and may be made smaller or larger.
// `add_below` adds controls of its own below the template's (the scan
// chooser) before the plot is placed beside them.
std::unique_ptr<TemplateDialog> make_dataset_dialog(
    const PowderPattern& record, std::span<const std::string> warnings = {},
    QWidget* parent = nullptr, const std::string& file = {},
    const std::function<void(TemplateDialog&)>& add_below = {});
// 1020 the message up to its first run of five blanks; the reason, when there
// is one, between the message and OK (object name "reason"), selectable. A
// headline that says less than its reason ("THIS DATA FORMAT NOT YET
// AVAILABLE" of a file a reader refuses) comes after the reason.
std::unique_ptr<TemplateDialog> make_failure_dialog(std::string_view failure_message,
                                                    std::string_view reason = {},
                                                    QWidget* parent = nullptr);

// Adds a word-wrapped note below the controls of the template, growing the
// dialog to hold it.
void add_note_below(TemplateDialog& dialog, const QString& object_name, const QString& text);
// Shows the file name of `path` in a field: elided in the middle with "…" when
// it is too long for the field, the full path as the field's tooltip.
void show_file_name(TemplateDialog& dialog, int id, const std::string& path);

// Names `path` (its file name, the full path as tooltip) in a line above the
// template's controls (object name "file"), moving them down.
void name_file_above(TemplateDialog& dialog, const std::string& path);

// 1021 the count line, 1024 and 1025 the file names of the two paths, each as
// wide as the dialog allows; the full path of the output below them (object
// name "output_path"), selectable. The warnings of the write, when there are
// any, below the template's controls (object name "warnings").
std::unique_ptr<TemplateDialog> make_success_dialog(const PowderPattern& record,
                                                    const ConversionSession& session,
                                                    QWidget* parent = nullptr,
                                                    std::span<const std::string> warnings = {});

}  // namespace qelda::ui
