#include "ui/batch_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include <unistd.h>

#include "core/driver.h"
#include "core/scan_info.h"
#include "core/workspace.h"
#include "formats/registry.h"
#include "ui/main_dialog.h"
#include "ui/qt_text.h"

namespace qelda::ui {

// The interaction of a batch: each prompt is asked through the window the first
// time a file needs it, and its answers are replayed for every later file with
// the file's own title. Failures and successes go to the table, not to dialogs;
// the dataset dialog opens only when asked for.
class BatchPrompts final : public Interaction {
  public:
    explicit BatchPrompts(WindowInteraction& window) : window_(window) {}

    bool show_each = false;
    // Forgets the answers; with `preset`, answers every prompt from it.
    void clear(const std::optional<ScriptedInteraction::Answers>& preset) {
        const bool asked = preset.has_value();
        asked_wavelengths_ = asked_xy_ = asked_ascii_ = asked_slit_ = asked;
        replay_ = asked ? ScriptedInteraction(*preset) : ScriptedInteraction();
        replay_.answers().title_given = false;
    }

    void show_dataset_parameters(const PowderPattern& record,
                                 std::span<const std::string> warnings) override {
        if (show_each) window_.show_dataset_parameters(record, warnings);
    }
    void show_failure(std::string_view, std::string_view) override {}
    void show_success(const PowderPattern&, const ConversionSession&,
                      std::span<const std::string>) override {}
    void reset_selection() override {}
    // A Cancel in a prompt or the dataset dialog stops the batch.
    bool cancelled() const override { return window_.cancelled(); }

    WavelengthEntries wavelength_prompt() override {
        if (!asked_wavelengths_) {
            replay_.answers().wavelengths = window_.wavelength_prompt();
            asked_wavelengths_ = true;
        }
        return replay_.wavelength_prompt();
    }
    XyInputEntries xy_input_prompt(std::string_view current_title,
                                   int32_t detected_header_lines) override {
        if (!asked_xy_) {
            asked_xy_ = true;
            XyInputEntries e = window_.xy_input_prompt(current_title, detected_header_lines);
            auto& a = replay_.answers();
            a.count_time = e.count_time;
            // Left as detected: every later file takes the number found in it.
            a.header_lines = e.header_lines == std::to_string(detected_header_lines)
                                 ? std::string()
                                 : e.header_lines;
            a.read_sigma = e.read_sigma;
            return e;
        }
        return replay_.xy_input_prompt(current_title, detected_header_lines);
    }
    AsciiOutputEntries ascii_output_prompt(std::string_view current_title) override {
        if (!asked_ascii_) {
            asked_ascii_ = true;
            AsciiOutputEntries e = window_.ascii_output_prompt(current_title);
            replay_.answers().write_title = e.write_title;
            replay_.answers().write_sigma = e.write_sigma;
            return e;
        }
        return replay_.ascii_output_prompt(current_title);
    }
    bool slit_prompt() override {
        if (!asked_slit_) {
            replay_.answers().slit_correction = window_.slit_prompt();
            asked_slit_ = true;
        }
        return replay_.slit_prompt();
    }

  private:
    WindowInteraction& window_;
    ScriptedInteraction replay_;  // titles not given: each file keeps its own
    bool asked_wavelengths_ = false;
    bool asked_xy_ = false;
    bool asked_ascii_ = false;
    bool asked_slit_ = false;
};

namespace {

constexpr int kFormatRole = Qt::UserRole;
// On the file cell of a row of one scan: the scan's number.
constexpr int kScanRole = Qt::UserRole + 1;

QString format_text(FormatId id) {
    const FormatInfo* f = find_format(id);
    return f != nullptr ? from_bytes(f->list_text) : QString();
}

// Why files cannot be written into `folder`, or empty when they can.
QString folder_problem(const QString& folder) {
    const QFileInfo info(folder);
    if (!info.exists()) return QStringLiteral("The output folder %1 does not exist.").arg(folder);
    if (!info.isDir()) return QStringLiteral("%1 is not a folder.").arg(folder);
    if (::access(to_path(folder).c_str(), W_OK | X_OK) != 0)
        return QStringLiteral("The output folder %1 cannot be written: %2.")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

QStringList local_files(const QMimeData* data) {
    QStringList files;
    if (data == nullptr || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

BatchDialog::BatchDialog(WindowInteraction& ui, QWidget* parent)
    : QDialog(parent), ui_(ui), prompts_(std::make_unique<BatchPrompts>(ui)), table_(formats()) {
    setObjectName(QStringLiteral("batch_dialog"));
    setWindowTitle(QStringLiteral("QELDA 2.01: Batch conversion"));
    setAcceptDrops(true);

    auto* top = new QVBoxLayout(this);
    auto* hint = new QLabel(
        QStringLiteral("Input files (add them, or drop them here). Each is read as the format "
                       "detected from its name and content, or as the one chosen for all."),
        this);
    hint->setWordWrap(true);
    top->addWidget(hint);

    table_widget_ = new QTableWidget(0, 5, this);
    table_widget_->setObjectName(QStringLiteral("files"));
    table_widget_->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Format"),
                                              QStringLiteral("Points"), QStringLiteral("Outcome"),
                                              QStringLiteral("Reason")});
    table_widget_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_widget_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_widget_->setTextElideMode(Qt::ElideMiddle);
    table_widget_->setWordWrap(false);
    table_widget_->verticalHeader()->hide();
    // Rows of one line of text with a little air, not the style's tall default.
    const int row_height = fontMetrics().height() * 7 / 5;
    table_widget_->verticalHeader()->setMinimumSectionSize(row_height);
    table_widget_->verticalHeader()->setDefaultSectionSize(row_height);
    // The file names take the room; the short columns fit their contents; the
    // reasons are read whole below the table and copied with Ctrl+C.
    QHeaderView* header = table_widget_->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(file_column, QHeaderView::Stretch);
    for (const int c : {format_column, points_column})
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    // The outcome's words, the longest of them whole.
    table_widget_->setColumnWidth(
        outcome_column, fontMetrics().horizontalAdvance(QStringLiteral("converting\u2026")) +
                            4 * fontMetrics().averageCharWidth());
    header->setStretchLastSection(false);
    table_widget_->setColumnWidth(reason_column, 260);
    top->addWidget(table_widget_, 1);
    details_ = new QLabel(this);
    details_->setObjectName(QStringLiteral("details"));
    details_->setTextFormat(Qt::PlainText);
    details_->setWordWrap(true);
    details_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    top->addWidget(details_);
    connect(table_widget_, &QTableWidget::currentCellChanged, this,
            [this](int row) { show_details(row); });
    auto* copy = new QShortcut(QKeySequence::Copy, table_widget_);
    connect(copy, &QShortcut::activated, this, [this] { copy_rows(); });

    auto* list_row = new QHBoxLayout();
    add_ = new QPushButton(QStringLiteral("&Add files\u2026"), this);
    add_->setObjectName(QStringLiteral("add"));
    remove_ = new QPushButton(QStringLiteral("&Remove"), this);
    remove_->setObjectName(QStringLiteral("remove"));
    list_row->addWidget(add_);
    list_row->addWidget(remove_);
    list_row->addStretch(1);
    top->addLayout(list_row);

    auto* grid = new QGridLayout();
    input_format_ = new QComboBox(this);
    input_format_->setObjectName(QStringLiteral("input_format"));
    input_format_->addItem(QStringLiteral("Detected per file"),
                           QVariant::fromValue(static_cast<int>(FormatId::none)));
    output_format_ = new QComboBox(this);
    output_format_->setObjectName(QStringLiteral("output_format"));
    for (const FormatInfo& f : formats()) {
        if (f.reads) input_format_->addItem(from_bytes(f.list_text), static_cast<int>(f.id));
        if (f.in_output_list)
            output_format_->addItem(from_bytes(f.list_text), static_cast<int>(f.id));
    }
    output_folder_ = new QLineEdit(this);
    output_folder_->setObjectName(QStringLiteral("output_folder"));
    output_folder_->setPlaceholderText(QStringLiteral("beside each input file"));
    folder_ = new QPushButton(QStringLiteral("F&older\u2026"), this);
    folder_->setObjectName(QStringLiteral("choose_folder"));
    show_each_ = new QCheckBox(QStringLiteral("&Show each pattern before it is written"), this);
    show_each_->setObjectName(QStringLiteral("show_each"));
    all_scans_ = new QCheckBox(QStringLiteral("All scans of &each file"), this);
    all_scans_->setObjectName(QStringLiteral("all_scans"));
    all_scans_->setToolTip(
        QStringLiteral("A file of several scans gives one output per scan: NAME_01.EXT, "
                       "NAME_02.EXT\u2026; scans that are not 2\u03b8 are skipped"));
    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setBuddy(buddy);
        return l;
    };
    grid->addWidget(label("&Input format:", input_format_), 0, 0);
    grid->addWidget(input_format_, 0, 1, 1, 2);
    grid->addWidget(label("O&utput format:", output_format_), 1, 0);
    grid->addWidget(output_format_, 1, 1, 1, 2);
    grid->addWidget(label("Output &folder:", output_folder_), 2, 0);
    grid->addWidget(output_folder_, 2, 1);
    grid->addWidget(folder_, 2, 2);
    grid->addWidget(show_each_, 3, 1, 1, 2);
    grid->addWidget(all_scans_, 4, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    top->addLayout(grid);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    top->addWidget(progress_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(status_);

    auto* buttons = new QHBoxLayout();
    convert_ = new QPushButton(QStringLiteral("&Convert all"), this);
    convert_->setObjectName(QStringLiteral("convert_all"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    close_ = new QPushButton(QStringLiteral("C&lose"), this);
    close_->setObjectName(QStringLiteral("close"));
    for (QPushButton* b : {add_, remove_, folder_, convert_, cancel_, close_})
        b->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(convert_);
    buttons->addWidget(cancel_);
    buttons->addWidget(close_);
    top->addLayout(buttons);

    connect(add_, &QPushButton::clicked, this, [this] { choose_files(); });
    connect(remove_, &QPushButton::clicked, this, [this] {
        // A scan's row stands for its file.
        const auto rows = table_widget_->selectionModel()->selectedRows();
        QStringList files;
        for (const auto& r : rows)
            files << table_widget_->item(r.row(), file_column)->data(Qt::UserRole).toString();
        clear_scan_rows();
        for (int r = table_widget_->rowCount() - 1; r >= 0; --r)
            if (files.contains(table_widget_->item(r, file_column)->data(Qt::UserRole).toString()))
                table_widget_->removeRow(r);
        update_controls();
    });
    connect(all_scans_, &QCheckBox::toggled, this, [this] { clear_scan_rows(); });
    connect(folder_, &QPushButton::clicked, this, [this] { choose_folder(); });
    // A folder that cannot take the outputs is told when it is chosen or typed.
    connect(output_folder_, &QLineEdit::editingFinished, this, [this] { check_folder(); });
    connect(convert_, &QPushButton::clicked, this, [this] { start(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(close_, &QPushButton::clicked, this, [this] { reject(); });
    resize(760, 460);
    update_controls();
}

BatchDialog::~BatchDialog() {
    // The lanes stop at once (a prompt in hand is answered "cancelled").
    lanes_.reset();
    if (running_) ui_.set_owner(previous_owner_);
}

void BatchDialog::add_files(const QStringList& paths) {
    clear_scan_rows();
    for (const QString& path : paths) {
        const QString full = QFileInfo(path).absoluteFilePath();
        bool listed = false;
        for (int r = 0; r < table_widget_->rowCount() && !listed; ++r)
            listed = table_widget_->item(r, file_column)->data(Qt::UserRole).toString() == full;
        if (listed || QFileInfo(full).isDir()) continue;
        const int row = table_widget_->rowCount();
        table_widget_->insertRow(row);
        auto* file = new QTableWidgetItem(QFileInfo(full).fileName());
        file->setData(Qt::UserRole, full);
        file->setToolTip(full);
        table_widget_->setItem(row, file_column, file);
        const FormatId detected = preselected_format(to_path(full), Direction::input);
        auto* format = new QTableWidgetItem(
            detected == FormatId::none ? QStringLiteral("not recognised") : format_text(detected));
        format->setData(kFormatRole, static_cast<int>(detected));
        table_widget_->setItem(row, format_column, format);
        set_row(row, {}, {}, {});
    }
    update_controls();
}

void BatchDialog::set_input_format(FormatId id) {
    input_format_->setCurrentIndex(std::max(0, input_format_->findData(static_cast<int>(id))));
}

void BatchDialog::set_output_format(FormatId id) {
    output_format_->setCurrentIndex(std::max(0, output_format_->findData(static_cast<int>(id))));
}

void BatchDialog::set_output_folder(const QString& folder) {
    output_folder_->setText(folder);
}

void BatchDialog::answer_prompts_with(const ScriptedInteraction::Answers& answers) {
    preset_ = answers;
}

void BatchDialog::set_show_each(bool on) {
    show_each_->setChecked(on);
}

void BatchDialog::set_all_scans(bool on) {
    all_scans_->setChecked(on);
}

void BatchDialog::clear_scan_rows() {
    if (running_) return;
    for (int r = table_widget_->rowCount() - 1; r >= 0; --r)
        if (table_widget_->item(r, file_column)->data(kScanRole).toInt() > 0)
            table_widget_->removeRow(r);
}

FormatId BatchDialog::format_of_row(int row) const {
    auto format = static_cast<FormatId>(input_format_->currentData().toInt());
    if (format == FormatId::none)
        format = static_cast<FormatId>(
            table_widget_->item(row, format_column)->data(kFormatRole).toInt());
    return format;
}

int32_t BatchDialog::count_scans(const std::string& path, FormatId format) const {
    const FormatInfo* reader = nullptr;
    for (const FormatInfo& f : table_)
        if (f.id == format) reader = &f;
    if (reader == nullptr) return 1;
    // Scan 1 of any axis, read with the prompts answered by their defaults.
    ScriptedInteraction quiet;
    Workspace ws(quiet);
    ws.options.any_axis = true;
    ws.record().max_points = kPointCapacity;
    if (ws.input().open(path) != Outcome::done) return 1;
    const ConversionStatus s = reader->codec(ws, CodecMode::read);
    return s == ConversionStatus::done ? std::max(ws.scan.count, 1) : 1;
}

QString BatchDialog::status() const {
    return status_->text();
}

void BatchDialog::choose_files() {
    QFileDialog chooser(this, QStringLiteral("Add Input Data Files"));
    chooser.setObjectName(QStringLiteral("batch_chooser"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setOption(QFileDialog::ReadOnly);
    chooser.setFileMode(QFileDialog::ExistingFiles);
    chooser.setNameFilters(chooser_filters(Direction::input));
    if (chooser.exec() == QDialog::Accepted) add_files(chooser.selectedFiles());
}

void BatchDialog::choose_folder() {
    QFileDialog chooser(this, QStringLiteral("Output Folder"));
    chooser.setObjectName(QStringLiteral("folder_chooser"));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        output_folder_->setText(chooser.selectedFiles().first());
        check_folder();
    }
}

bool BatchDialog::check_folder() {
    const QString folder = output_folder_->text().trimmed();
    const QString problem = folder.isEmpty() ? QString() : folder_problem(folder);
    output_folder_->setStyleSheet(
        problem.isEmpty() ? QString() : QStringLiteral("QLineEdit { background: #ffd8d8; }"));
    output_folder_->setToolTip(problem);
    if (!problem.isEmpty() || status_->property("folder_problem").toBool())
        status_->setText(problem);
    status_->setProperty("folder_problem", !problem.isEmpty());
    return problem.isEmpty();
}

void BatchDialog::show_details(int row) {
    if (row < 0 || row >= table_widget_->rowCount()) {
        details_->clear();
        return;
    }
    const QTableWidgetItem* file = table_widget_->item(row, file_column);
    const QTableWidgetItem* reason = table_widget_->item(row, reason_column);
    const QString why = reason != nullptr ? reason->text() : QString();
    details_->setText(file == nullptr || why.isEmpty()
                          ? QString()
                          : file->data(Qt::UserRole).toString() + QStringLiteral(": ") + why);
}

void BatchDialog::copy_rows() {
    QStringList lines;
    const auto rows = table_widget_->selectionModel()->selectedRows();
    for (const QModelIndex& index : rows) {
        QStringList cells;
        for (int c = 0; c < table_widget_->columnCount(); ++c) {
            const QTableWidgetItem* item = table_widget_->item(index.row(), c);
            QString text = item != nullptr ? item->text() : QString();
            if (c == file_column && item != nullptr) text = item->data(Qt::UserRole).toString();
            cells << text;
        }
        lines << cells.join(QLatin1Char('\t'));
    }
    if (!lines.isEmpty())
        QApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

bool BatchDialog::start() {
    if (running_) return false;
    clear_scan_rows();
    const auto out_id = static_cast<FormatId>(output_format_->currentData().toInt());
    const FormatInfo* out = find_format(out_id);
    std::vector<std::string> inputs;
    for (int r = 0; r < table_widget_->rowCount(); ++r)
        inputs.push_back(
            to_path(table_widget_->item(r, file_column)->data(Qt::UserRole).toString()));
    if (inputs.empty() || out == nullptr) {
        status_->setText(QStringLiteral("Add input files first."));
        return false;
    }
    std::string extension(1, '.');
    extension.append(out->extension);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const QString folder = output_folder_->text().trimmed();
    if (!folder.isEmpty() && !check_folder()) return false;
    plan_ = plan_batch(inputs, to_path(folder), extension);
    item_rows_.clear();
    item_scans_.clear();
    // Every scan of each file: its outputs numbered from the file's, checked
    // as one plan before anything is written.
    std::vector<int32_t> counts;
    if (plan_.ok() && all_scans_->isChecked()) {
        std::vector<BatchItem> items;
        for (std::size_t i = 0; i < plan_.items.size(); ++i) {
            const BatchItem& base = plan_.items[i];
            const int32_t count = count_scans(base.input, format_of_row(static_cast<int>(i)));
            counts.push_back(count);
            for (int32_t k = 1; k <= count; ++k)
                items.push_back({base.input, scan_output_name(base.output, k, count)});
        }
        plan_ = check_plan(inputs, std::move(items));
    }
    if (!plan_.ok()) {
        status_->setText(QStringLiteral("Nothing converted: %1.").arg(from_path(plan_.error)));
        return false;
    }
    if (counts.empty()) {
        for (int i = 0; i < static_cast<int>(plan_.items.size()); ++i) {
            item_rows_.push_back(i);
            item_scans_.push_back(0);
        }
    } else {
        // A row per scan below its file's row.
        int row = 0;
        for (const int32_t count : counts) {
            const QTableWidgetItem* file = table_widget_->item(row, file_column);
            const QTableWidgetItem* format = table_widget_->item(row, format_column);
            for (int32_t k = 1; k <= count; ++k) {
                const int at = row + k;
                table_widget_->insertRow(at);
                auto* scan = new QTableWidgetItem(
                    QStringLiteral("    %1, scan %2 of %3").arg(file->text()).arg(k).arg(count));
                scan->setData(Qt::UserRole, file->data(Qt::UserRole));
                scan->setData(kScanRole, k);
                scan->setToolTip(from_path(plan_.items[item_rows_.size()].output));
                table_widget_->setItem(at, file_column, scan);
                table_widget_->setItem(at, format_column, format->clone());
                item_rows_.push_back(at);
                item_scans_.push_back(k);
            }
            row += count + 1;
        }
    }
    for (int r = 0; r < table_widget_->rowCount(); ++r) set_row(r, {}, {}, {});
    if (!counts.empty()) {
        int row = 0;
        for (const int32_t count : counts) {
            set_row(row, {},
                    count == 1 ? QStringLiteral("1 scan") : QStringLiteral("%1 scans").arg(count),
                    {});
            row += count + 1;
        }
    }
    prompts_->clear(preset_);
    prompts_->show_each = show_each_->isChecked();
    previous_owner_ = ui_.owner();
    ui_.set_owner(this);
    lanes_.reset();
    shown_ = 0;
    converted_ = 0;
    failed_ = 0;
    skipped_ = 0;
    cancelled_ = false;
    running_ = true;
    progress_->setRange(0, static_cast<int>(plan_.items.size()));
    progress_->setValue(0);
    status_->setText(QStringLiteral("Converting\u2026"));
    update_controls();
    // The lanes start on the next turn of the event loop.
    QTimer::singleShot(0, this, [this] { launch(); });
    return true;
}

void BatchDialog::set_lanes(int lanes) noexcept {
    lanes_wanted_ = std::max(lanes, 0);
}

void BatchDialog::cancel() {
    if (!running_) return;
    cancelled_ = true;
    if (lanes_ != nullptr) lanes_->cancel();
}

void BatchDialog::launch() {
    if (!running_) return;
    const std::size_t total = plan_.items.size();
    if (cancelled_) {
        // Cancelled before the first file was started.
        finish(std::vector<BatchOutcome>(total));
        return;
    }
    const auto out_format = static_cast<FormatId>(output_format_->currentData().toInt());
    std::vector<BatchJob> jobs;
    jobs.reserve(total);
    for (std::size_t i = 0; i < total; ++i)
        jobs.push_back({plan_.items[i].input, plan_.items[i].output, format_of_row(item_rows_[i]),
                        item_scans_[i]});
    BatchLanes::Hooks hooks;
    hooks.post = [this](std::function<void()> f) {
        QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
    };
    hooks.ask = [this](std::size_t job, const std::function<void(Interaction&)>& call) {
        const BatchItem& item = plan_.items[job];
        ui_.clear_cancelled();
        ui_.set_files(item.input, item.output);
        call(*prompts_);
        return ui_.cancelled();
    };
    hooks.started = [this](std::size_t job) {
        if (static_cast<int>(job) < shown_) return;
        const int row = item_rows_[job];
        table_widget_->scrollToItem(table_widget_->item(row, file_column));
        set_row(row, {}, QStringLiteral("converting\u2026"), {});
    };
    hooks.reported = [this](std::size_t job, const BatchOutcome& outcome) {
        show_outcome(static_cast<int>(job), outcome);
        shown_ = static_cast<int>(job) + 1;
        progress_->setValue(shown_);
    };
    hooks.finished = [this](std::vector<BatchOutcome> outcomes) { finish(std::move(outcomes)); };
    const bool preset = preset_.has_value();
    // The dataset dialog of each file is shown in the order of the files.
    const int lanes = show_each_->isChecked() ? 1
                      : lanes_wanted_ > 0     ? lanes_wanted_
                                              : std::max(QThread::idealThreadCount(), 1);
    lanes_ = std::make_unique<BatchLanes>(std::move(jobs), out_format, table_,
                                          show_each_->isChecked(), preset, std::move(hooks));
    lanes_->start(lanes);
}

void BatchDialog::show_outcome(int job, const BatchOutcome& outcome) {
    const int row = item_rows_[static_cast<std::size_t>(job)];
    switch (outcome.kind) {
        case BatchOutcome::converted:
            ++converted_;
            set_row(row, outcome.points, QStringLiteral("converted"), outcome.reason);
            break;
        case BatchOutcome::failed:
            ++failed_;
            set_row(row, {}, QStringLiteral("failed"), outcome.reason);
            break;
        case BatchOutcome::skipped:
            ++skipped_;
            set_row(row, {}, QStringLiteral("skipped"), outcome.reason);
            break;
        case BatchOutcome::cancelled:
            cancelled_ = true;
            set_row(row, {}, QStringLiteral("cancelled"), outcome.reason);
            break;
        case BatchOutcome::not_started:
            cancelled_ = true;
            set_row(row, {}, QStringLiteral("cancelled"), QStringLiteral("not converted"));
            break;
    }
}

void BatchDialog::finish(std::vector<BatchOutcome> outcomes) {
    if (lanes_ != nullptr) lanes_->join();
    running_ = false;
    ui_.set_owner(previous_owner_);
    const int total = static_cast<int>(plan_.items.size());
    // The files finished after a Cancel, or never started.
    for (int i = shown_; i < total && i < static_cast<int>(outcomes.size()); ++i)
        show_outcome(i, outcomes[static_cast<std::size_t>(i)]);
    const bool scans = !item_scans_.empty() && item_scans_.front() > 0;
    QString text =
        QString::fromLatin1(scans ? "%1 of %2 scans converted" : "%1 of %2 files converted")
            .arg(converted_)
            .arg(total);
    if (failed_ > 0) text += QStringLiteral(", %1 failed").arg(failed_);
    if (skipped_ > 0) text += QStringLiteral(", %1 skipped (not 2\u03b8)").arg(skipped_);
    if (cancelled_) {
        const int left = total - converted_ - failed_ - skipped_;
        text += QStringLiteral("; cancelled, %1 not converted").arg(left);
    }
    const QString folder = output_folder_->text().trimmed();
    if (converted_ > 0)
        text += folder.isEmpty() ? QStringLiteral("; the outputs are beside their inputs")
                                 : QStringLiteral("; the outputs are in %1")
                                       .arg(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
    status_->setText(text + QLatin1Char('.'));
    update_controls();
    emit batch_finished();
}

void BatchDialog::set_row(int row, const QString& points, const QString& outcome,
                          const QString& reason) {
    const QString texts[] = {points, outcome, reason};
    for (int k = 0; k < 3; ++k) {
        auto* item = new QTableWidgetItem(texts[k]);
        if (k == 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (k == 2) item->setToolTip(texts[k]);
        if (k == 1 && texts[k] == QLatin1String("failed")) item->setForeground(QColor(170, 0, 0));
        table_widget_->setItem(row, points_column + k, item);
    }
    if (row == table_widget_->currentRow()) show_details(row);
}

void BatchDialog::update_controls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{add_, remove_, folder_, input_format_, output_format_,
                                         output_folder_, show_each_, all_scans_})
        w->setEnabled(!running_);
    convert_->setEnabled(!running_ && table_widget_->rowCount() > 0);
    cancel_->setEnabled(running_);
}

void BatchDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!running_ && !local_files(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void BatchDialog::dropEvent(QDropEvent* event) {
    const QStringList files = local_files(event->mimeData());
    if (running_ || files.isEmpty()) return;
    add_files(files);
    event->acceptProposedAction();
}

void BatchDialog::reject() {
    // Closing while files are converted stops after the file in hand first.
    if (running_) {
        cancel();
        return;
    }
    QDialog::reject();
}

}  // namespace qelda::ui
