// Dialog 101, the converter: the two file rows with their choosers and format
// lists, Convert, Reset and Exit. Choosing a file opens it at once on its unit
// and preselects its format from its name (or content); Convert runs the same
// run_conversion as the command line; after every conversion the selection is
// cleared.
#pragma once

#include <QString>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/workspace.h"
#include "formats/registry.h"
#include "ui/dialog_builder.h"
#include "ui/window_interaction.h"

namespace qelda::ui {

inline constexpr const char* kNoFileSelected = "No file selected";

// Chooser settings.
inline constexpr const char* kInputChooserTitle = "Open Input Data File";
inline constexpr const char* kOutputChooserTitle = "Open Output Data File";
inline constexpr const char* kChooserDefaultSuffix = "dat";
// Object names of the two choosers, so that tests can find them.
inline constexpr const char* kInputChooserName = "input_chooser";
inline constexpr const char* kOutputChooserName = "output_chooser";
// Object name of the question Escape asks before the program ends.
inline constexpr const char* kConfirmExitName = "confirm_exit";

// The format a file's name selects: .xy, .xye and .xyd give Ascii x-y, and
// otherwise the three characters after the first "." of the file name (not of
// its folders) as the format table says. For an input whose name selects
// nothing, or "RAW" (which two makers use), the content decides when it can.
FormatId preselected_format(const std::string& path, Direction direction);

// Why a file cannot become the output, in lower case, or empty when it can: its
// folder must exist and be writable (the file is written beside itself and
// renamed), and an existing file must be a writable file.
std::string output_problem(const std::string& path);

// The chooser filters of a direction, "description (pattern)", "All Files"
// first, then the formats of the list in order.
QStringList chooser_filters(Direction direction);

class MainDialog {
  public:
    MainDialog(Workspace& ws, WindowInteraction& ui) : ws_(ws), ui_(ui) {}
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Builds the dialog from template `template_id`, fills the two format lists
    // (no entry selected) and attaches the actions; false when the template
    // cannot be built.
    bool build(int template_id = kMainDialog);
    TemplateDialog* dialog() const noexcept { return dialog_.get(); }
    // Runs the dialog modally until Exit or the close box.
    int exec();

    // The actions.
    void select_input();
    void select_output();
    void update_convert_button();
    void reset_selection();
    void convert();
    // A file dropped on the input row: chosen as if through Select.
    void drop_input(const std::string& path);
    // Opens the batch dialog.
    void open_batch();

    // Tests give a table of their own codecs; by default Convert runs formats().
    void set_conversion_table(std::span<const FormatInfo> table) noexcept { table_ = table; }

  private:
    bool take_input(const std::string& path);
    void show_input();
    void choose_output_file();
    // Runs a chooser; the returned path, or nothing when the user cancels.
    std::optional<std::string> run_chooser(Direction direction, std::string& buffer,
                                           FormatId selected);

    Workspace& ws_;
    WindowInteraction& ui_;
    std::unique_ptr<TemplateDialog> dialog_;
    // The chooser buffers: what each chooser last returned, kept for the run.
    std::string input_buffer_;
    std::string output_buffer_;
    std::span<const FormatInfo> table_;
};

// The program: builds dialog `template_id` as the main dialog and runs it.
// When it cannot be built, writes "Error: dialog not found" on `console` and
// returns 1. A non-empty `input` is chosen as the input file first.
int run_program(int template_id = kMainDialog, std::FILE* console = stderr,
                const std::string& input = {});

}  // namespace qelda::ui
