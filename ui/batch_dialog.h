// The batch dialog: many input files converted into one output format, each
// beside its input or into one folder. The prompts are asked once, for the
// first file that needs them, and their answers serve every other file (each
// keeps its own title). Files are converted on worker lanes, several at once,
// and reported in their order, so that the window answers and Cancel stops
// after the files in hand; the table shows each file's points, outcome and
// reason and stays open. With "All scans of each file", every scan of a file
// is converted into an output of its own, named as the command line names them (NAME_01.EXT...),
// each a row of the table below its file's; scans that are not 2theta are skipped.
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/batch_plan.h"
#include "core/format_table.h"
#include "ui/batch_lanes.h"
#include "ui/window_interaction.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace qelda::ui {

class BatchPrompts;

class BatchDialog : public QDialog {
    Q_OBJECT

  public:
    // The table's columns.
    enum Column { file_column, format_column, points_column, outcome_column, reason_column };

    explicit BatchDialog(WindowInteraction& ui, QWidget* parent = nullptr);
    ~BatchDialog() override;

    // Tests give a table of their own codecs; by default the format table.
    void set_conversion_table(std::span<const FormatInfo> table) noexcept { table_ = table; }

    // Adds files to the list (a file already listed is not added twice).
    void add_files(const QStringList& paths);
    // The format of every input, or FormatId::none: detected per file.
    void set_input_format(FormatId id);
    void set_output_format(FormatId id);
    // Empty: each output beside its input.
    void set_output_folder(const QString& folder);
    // Shows each file's dataset dialog, with its pattern, before it is written.
    void set_show_each(bool on);
    // Converts every scan of each file, one output each.
    void set_all_scans(bool on);

    // Answers every prompt of the next batches from `answers` instead of asking
    // (tests, screenshots).
    void answer_prompts_with(const ScriptedInteraction::Answers& answers);

    // Plans the batch and starts it; false, with the reason shown, when the
    // plan is refused (two inputs onto one output, an output that is an input).
    bool start();
    // Stops after the files in hand: nothing is started after it.
    void cancel();
    // How many files are converted at once (0: one per processor; the
    // dataset dialog of each file makes it 1).
    void set_lanes(int lanes) noexcept;
    bool running() const noexcept { return running_; }

    QTableWidget* table() const noexcept { return table_widget_; }
    QString status() const;

  signals:
    void batch_finished();

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void reject() override;

  private:
    void choose_files();
    void choose_folder();
    // Starts the lanes (on the turn of the event loop after start()).
    void launch();
    // Shows what became of plan item `job` in its row and counts it.
    void show_outcome(int job, const BatchOutcome& outcome);
    // The format a row is read as: the one chosen for all, or its own.
    FormatId format_of_row(int row) const;
    // How many scans a file holds, as its reader tells (1 when it does not).
    int32_t count_scans(const std::string& path, FormatId format) const;
    // Removes the rows of single scans, leaving one row per file.
    void clear_scan_rows();
    void finish(std::vector<BatchOutcome> outcomes);
    void set_row(int row, const QString& points, const QString& outcome, const QString& reason);
    void update_controls();
    // Tells in the status line (and marks the field) when the output folder
    // cannot take the outputs; true when it can or none is given.
    bool check_folder();
    void show_details(int row);
    // Ctrl+C: the selected rows, tab-separated, the file with its full path.
    void copy_rows();

    WindowInteraction& ui_;
    std::unique_ptr<BatchPrompts> prompts_;
    std::span<const FormatInfo> table_;
    BatchPlan plan_;
    std::unique_ptr<BatchLanes> lanes_;
    int lanes_wanted_ = 0;  // 0: one per processor
    int shown_ = 0;         // plan items reported so far
    int converted_ = 0;
    int failed_ = 0;
    int skipped_ = 0;  // scans that are not 2theta
    // The table row of each plan item, and its scan (0: the file as a whole).
    std::vector<int> item_rows_;
    std::vector<int32_t> item_scans_;
    bool running_ = false;
    bool cancelled_ = false;
    std::optional<ScriptedInteraction::Answers> preset_;
    QWidget* previous_owner_ = nullptr;

    QTableWidget* table_widget_;
    QComboBox* input_format_;
    QComboBox* output_format_;
    QLineEdit* output_folder_;
    QCheckBox* show_each_;
    QCheckBox* all_scans_;
    QProgressBar* progress_;
    QLabel* status_;
    QLabel* details_;
    QPushButton* add_;
    QPushButton* remove_;
    QPushButton* folder_;
    QPushButton* convert_;
    QPushButton* cancel_;
    QPushButton* close_;
};

}  // namespace qelda::ui
