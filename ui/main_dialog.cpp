#include "ui/main_dialog.h"

#include <unistd.h>

#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

#include "core/driver.h"
#include "ui/qt_text.h"

namespace qelda::ui {
namespace {

bool in_list(FormatId id, Direction direction) {
    const FormatInfo* f = find_format(id);
    return f != nullptr && (direction == Direction::input || f->in_output_list);
}

QStringList list_entries(Direction direction) {
    QStringList entries{QString()};  // entry 1: no format
    for (const FormatInfo& f : formats())
        if (in_list(f.id, direction)) entries << from_bytes(f.list_text);
    return entries;
}

// The file chooser. Qt adds the default suffix to every name without a dot,
// so that a file without an extension could not be opened at all; the input
// chooser takes such a name as it is when a file of that name exists.
class Chooser : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const auto* name_box = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = name_box != nullptr ? name_box->text() : QString();
        const QFileInfo as_typed(directory(), typed);
        if (fileMode() == QFileDialog::ExistingFile && !typed.isEmpty() &&
            !as_typed.fileName().contains(QLatin1Char('.')) && as_typed.exists() &&
            !as_typed.isDir()) {
            const QString suffix = defaultSuffix();
            setDefaultSuffix(QString());
            QFileDialog::accept();
            setDefaultSuffix(suffix);
            return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

QStringList chooser_filters(Direction direction) {
    // Windows' "*.*" matches every name; in Qt it would hide names without a
    // dot, so "All Files" takes "*".
    QStringList filters{QStringLiteral("All Files (*)")};
    for (const FormatInfo& f : formats())
        if (in_list(f.id, direction))
            filters << QStringLiteral("%1 (%2)").arg(from_bytes(f.filter_description),
                                                     from_bytes(f.filter_pattern));
    return filters;
}

MainDialog::~MainDialog() {
    ui_.set_reset({});
    ui_.set_owner(nullptr);
}

bool MainDialog::build(int template_id) {
    dialog_ = build_dialog(template_id);
    if (!dialog_) return false;
    TemplateDialog& d = *dialog_;
    d.set_entries(id::input_list, list_entries(Direction::input));
    d.set_entries(id::output_list, list_entries(Direction::output));
    d.attach(id::input_select, [this] { select_input(); });
    d.attach(id::output_select, [this] { select_output(); });
    d.attach(id::input_list, [this] { update_convert_button(); });
    d.attach(id::output_list, [this] { update_convert_button(); });
    d.attach(id::reset, [this] { reset_selection(); });
    d.attach(id::convert, [this] { convert(); });
    // Exit gets no action: a push button without one ends the dialog.
    ui_.set_owner(dialog_.get());
    ui_.set_reset([this] { reset_selection(); });
    return true;
}

int MainDialog::exec() {
    return dialog_ ? dialog_->exec() : 0;
}

std::optional<std::string> MainDialog::run_chooser(Direction direction, std::string& buffer,
                                                   FormatId selected) {
    const bool input = direction == Direction::input;
    Chooser chooser(dialog_.get(),
                    QString::fromLatin1(input ? kInputChooserTitle : kOutputChooserTitle));
    chooser.setObjectName(QString::fromLatin1(input ? kInputChooserName : kOutputChooserName));
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    if (input) {
        // The file must exist; the chooser may not rename or delete anything.
        chooser.setFileMode(QFileDialog::ExistingFile);
        chooser.setOption(QFileDialog::ReadOnly);
    } else {
        // A new name is accepted (the file is created), an existing one without a warning.
        chooser.setFileMode(QFileDialog::AnyFile);
        chooser.setOption(QFileDialog::DontConfirmOverwrite);
    }
    const QStringList filters = chooser_filters(direction);
    chooser.setNameFilters(filters);
    // Filter k belongs to FormatId k; "All Files" when no format is chosen.
    const int k = static_cast<int>(selected);
    chooser.selectNameFilter(filters.value(k >= 1 && k <= filters.size() ? k - 1 : 0));
    chooser.setDefaultSuffix(QString::fromLatin1(kChooserDefaultSuffix));
    if (!buffer.empty()) chooser.selectFile(from_path(buffer));
    // The file as accepted (asked afterwards, the chooser would add the suffix again).
    QString chosen;
    QObject::connect(&chooser, &QFileDialog::fileSelected,
                     [&chosen](const QString& file) { chosen = file; });
    if (chooser.exec() != QDialog::Accepted || chosen.isEmpty()) return std::nullopt;
    buffer = to_path(chosen);
    return buffer;
}

void MainDialog::choose_input_file() {
    ConversionSession& s = ws_.session();
    if (s.input_ready) input_buffer_ = s.input_path;
    const auto path = run_chooser(Direction::input, input_buffer_, s.input_format);
    if (!path) return;
    if (ws_.input().open(*path) != Outcome::done) {
        ui_.show_failure(fixed_text(kMsgOpenInput, kFailureMessageLength),
                         *path + ": " + ws_.input().problem());
        reset_selection();
        return;
    }
    s.input_path = *path;
    s.input_ready = true;
}

void MainDialog::choose_output_file() {
    ConversionSession& s = ws_.session();
    const bool dropped_earlier = s.output_ready;
    if (s.output_ready) {
        output_buffer_ = s.output_path;
        // Nothing was written to it: the earlier file stays as the chooser left it.
        ws_.output().close(/*keep=*/false);
        s.output_ready = false;
    }
    const auto path = run_chooser(Direction::output, output_buffer_, s.output_format);
    if (!path) {
        // The earlier output file is no longer open: the row must not show it.
        if (dropped_earlier) {
            dialog_->set_text(id::output_name, QString::fromLatin1(kNoFileSelected));
            update_convert_button();
        }
        return;
    }
    if (ws_.output().open(*path, /*create_now=*/true) != Outcome::done) {
        ui_.show_failure(fixed_text(kMsgOpenOutput, kFailureMessageLength),
                         *path + ": " + ws_.output().commit_error());
        reset_selection();
        return;
    }
    s.output_path = *path;
    s.output_ready = true;
}

void MainDialog::select_input() {
    choose_input_file();
    ConversionSession& s = ws_.session();
    if (!s.input_ready) return;
    dialog_->set_text(id::input_name, from_path(file_name_part(s.input_path)));
    const FormatId detected = detect_format(extension_chars(s.input_path), Direction::input);
    if (detected != FormatId::none)
        dialog_->select_entry(id::input_list, static_cast<int>(detected));
    update_convert_button();
}

void MainDialog::select_output() {
    choose_output_file();
    ConversionSession& s = ws_.session();
    if (!s.output_ready) return;
    dialog_->set_text(id::output_name, from_path(file_name_part(s.output_path)));
    const FormatId detected = detect_format(extension_chars(s.output_path), Direction::output);
    if (detected != FormatId::none)
        dialog_->select_entry(id::output_list, static_cast<int>(detected));
    update_convert_button();
}

void MainDialog::update_convert_button() {
    ConversionSession& s = ws_.session();
    // A list with no entry selected counts as the empty entry.
    s.input_format = static_cast<FormatId>(dialog_->selected_entry(id::input_list));
    s.output_format = static_cast<FormatId>(dialog_->selected_entry(id::output_list));
    const bool enable = in_list(s.input_format, Direction::input) &&
                        in_list(s.output_format, Direction::output) && s.input_ready &&
                        s.output_ready;
    dialog_->enable(id::convert, enable);
}

void MainDialog::reset_selection() {
    ConversionSession& s = ws_.session();
    s.input_format = static_cast<FormatId>(0);
    s.output_format = static_cast<FormatId>(0);
    s.input_ready = false;
    s.output_ready = false;
    dialog_->set_text(id::input_name, QString::fromLatin1(kNoFileSelected));
    dialog_->set_text(id::output_name, QString::fromLatin1(kNoFileSelected));
    dialog_->enable(id::convert, false);
    dialog_->select_entry(id::input_list, 1);
    dialog_->select_entry(id::output_list, 1);
}

void MainDialog::convert() {
    const auto input_format = static_cast<FormatId>(dialog_->selected_entry(id::input_list));
    const auto output_format = static_cast<FormatId>(dialog_->selected_entry(id::output_list));
    const ConversionSession& s = ws_.session();
    // Never a conversion without both files open.
    if (!s.input_ready || !s.output_ready) return;
    if (table_.empty())
        run_conversion(ws_, input_format, output_format);
    else
        run_conversion(ws_, input_format, output_format, table_);
}

namespace {

// Wall-clock milliseconds since the kernel started this process.
double milliseconds_since_process_start() {
    std::FILE* f = std::fopen("/proc/self/stat", "r");
    if (f == nullptr) return -1.0;
    char buf[1024];
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    // Field 22 (start time in clock ticks since boot) follows the command in
    // parentheses and twenty more fields.
    const char* p = std::strrchr(buf, ')');
    if (p == nullptr) return -1.0;
    unsigned long long start_ticks = 0;
    int field = 2;
    for (const char* c = p + 1; *c != '\0'; ++c) {
        if (*c == ' ') {
            ++field;
            if (field == 22) {
                start_ticks = std::strtoull(c + 1, nullptr, 10);
                break;
            }
        }
    }
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double now_ms = static_cast<double>(now.tv_sec) * 1000.0 + now.tv_nsec / 1e6;
    return now_ms - static_cast<double>(start_ticks) * 1000.0 / ticks;
}

}  // namespace

int run_program(int template_id, std::FILE* console) {
    WindowInteraction ui(console);
    Workspace ws(ui);
    MainDialog main(ws, ui);
    if (!main.build(template_id)) {
        ui.report_missing_dialog();
        return 1;
    }
    // Benchmark hook: with QELDA_STARTUP_PROBE set, print the milliseconds from
    // the start of the process to the first turn of the event loop after the
    // dialog is shown, then close it.
    if (std::getenv("QELDA_STARTUP_PROBE") != nullptr) {
        QTimer::singleShot(0, main.dialog(), [&main, console] {
            std::fprintf(console == stderr ? stdout : console, "%.1f\n",
                         milliseconds_since_process_start());
            main.dialog()->done(0);
        });
    }
    main.exec();
    return 0;
}

}  // namespace qelda::ui
