// The window as a user meets it: Cancel and Escape stop a conversion before
// anything is written, Escape on the main window asks, the plot keeps round
// ticks and its zoom, the choosers filter by format, the batch table is
// compact and says what was done, and texts are whole where there is room.
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QValueAxis>
#include <cmath>
#include <filesystem>
#include <memory>

#include "core/driver.h"
#include "formats/registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/batch_dialog.h"
#include "ui/main_dialog.h"
#include "ui/pattern_plot.h"
#include "ui/prompt_dialogs.h"
#include "ui/qt_text.h"
#include "ui/result_dialogs.h"
#include "ui/window_interaction.h"

using namespace qelda;
using namespace qelda::ui;
using qelda::ui::testing::click;
using qelda::ui::testing::ModalScript;
using qelda::ui::testing::Scratch;

namespace {

const QString kExamples = QStringLiteral(QELDA_SOURCE_DIR "/examples/");

// How a dialog is left.
enum class Leave { ok, cancel_button, escape };

void leave(QDialog* d, Leave how) {
    switch (how) {
        case Leave::ok:
            click(d, id::ok);
            break;
        case Leave::cancel_button: {
            auto* cancel = d->findChild<QPushButton*>(QStringLiteral("cancel"));
            QVERIFY(cancel != nullptr);
            cancel->click();
            break;
        }
        case Leave::escape:
            QTest::keyClick(d, Qt::Key_Escape);
            break;
    }
}

// True when `v` is a multiple of `interval` and `interval` is 1, 2 or 5 times
// a power of ten.
bool round_tick(double v, double interval) {
    const double power = std::pow(10.0, std::floor(std::log10(interval) + 1e-9));
    const double f = interval / power;
    const bool round_interval =
        std::abs(f - 1) < 1e-9 || std::abs(f - 2) < 1e-9 || std::abs(f - 5) < 1e-9;
    const double k = v / interval;
    return round_interval && std::abs(k - std::round(k)) < 1e-6;
}

std::unique_ptr<PowderPattern> pattern_of(int n, float start, float step) {
    auto made = std::make_unique<PowderPattern>();
    PowderPattern& r = *made;
    r.point_count = n;
    r.two_theta_start = start;
    r.two_theta_step = step;
    r.two_theta_end = start + step * static_cast<float>(n - 1);
    for (int i = 1; i <= n; ++i)
        r.intensity(i) = 300.0f + 19138.0f * std::exp(-std::pow((i - n / 2) / 12.0f, 2.0f)) +
                         static_cast<float>((i * 37) % 101);
    return made;
}

}  // namespace

class WindowUseTest : public QObject {
    Q_OBJECT

  private slots:
    void cancel_or_escape_writes_nothing_data();
    void cancel_or_escape_writes_nothing();
    void escape_on_the_main_window_asks();
    void plot_ticks_stay_round_and_zoom_is_kept_data();
    void plot_ticks_stay_round_and_zoom_is_kept();
    void choosers_filter_by_format_data();
    void choosers_filter_by_format();
    void failure_reason_is_above_ok_data();
    void failure_reason_is_above_ok();
    void success_shows_names_whole_and_the_full_path();
    void prompts_name_their_file();
    void batch_table_is_compact_and_tells_what_was_done();
    void batch_folder_is_checked_when_chosen();
    void mnemonics_keep_the_texts();
};

void WindowUseTest::cancel_or_escape_writes_nothing_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("output_format");
    QTest::addColumn<QString>("left");  // the dialog that is not answered with OK
    QTest::addColumn<int>("how");
    const int xy = static_cast<int>(FormatId::ascii_xy);
    const int gsas = static_cast<int>(FormatId::gsas);
    const int cancel = static_cast<int>(Leave::cancel_button);
    const int escape = static_cast<int>(Leave::escape);
    QTest::newRow("dataset, Cancel") << "quartz.raw" << gsas << "dialog102" << cancel;
    QTest::newRow("dataset, Escape") << "quartz.raw" << gsas << "dialog102" << escape;
    QTest::newRow("x-y input prompt, Escape") << "quartz.dat" << gsas << "dialog106" << escape;
    QTest::newRow("wavelength prompt, Cancel") << "quartz.dat" << gsas << "dialog105" << cancel;
    QTest::newRow("slit prompt, Escape") << "quartz.raw" << gsas << "dialog107" << escape;
    QTest::newRow("ascii output prompt, Cancel") << "quartz.raw" << xy << "dialog108" << cancel;
    QTest::newRow("all OK: written") << "quartz.raw" << xy << "" << 0;
}

void WindowUseTest::cancel_or_escape_writes_nothing() {
    QFETCH(QString, input);
    QFETCH(int, output_format);
    QFETCH(QString, left);
    QFETCH(int, how);
    if (!QFileInfo::exists(kExamples + input)) QSKIP("examples absent");
    Scratch scratch;
    QVERIFY(scratch.valid());
    const QString out = scratch.path(QStringLiteral("out"));
    WindowInteraction ui;
    Workspace ws(ui);
    const auto in_format =
        input.endsWith(QLatin1String(".dat")) ? FormatId::ascii_xy : FormatId::stoe_raw;
    QCOMPARE(ws.input().open(to_path(kExamples + input)), Outcome::done);
    QCOMPARE(ws.output().open(to_path(out), false), Outcome::done);
    ws.session().input_path = to_path(kExamples + input);
    ws.session().output_path = to_path(out);
    ws.session().input_ready = ws.session().output_ready = true;
    ModalScript script;
    for (const char* name : {"dialog106", "dialog105", "dialog102", "dialog107", "dialog108"}) {
        const QString n = QString::fromLatin1(name);
        script.on(n, [n, left, how](QDialog* d) {
            if (n == QLatin1String("dialog106")) testing::type_into(d, id::count_time_box, "1.0");
            leave(d, n == left ? static_cast<Leave>(how) : Leave::ok);
        });
    }
    script.on(QStringLiteral("dialog104"), [](QDialog* d) { click(d, id::ok); });
    ui.clear_cancelled();
    const ConversionResult result =
        run_conversion(ws, in_format, static_cast<FormatId>(output_format), formats());
    QVERIFY2(!script.tripped(), qPrintable(script.seen().join(QLatin1Char(' '))));
    if (left.isEmpty()) {
        QVERIFY(result.succeeded());
        QVERIFY(QFileInfo::exists(out));
        return;
    }
    QVERIFY(result.cancelled);
    QVERIFY(!result.succeeded());
    QVERIFY2(!QFileInfo::exists(out), "a cancelled conversion wrote its output");
    // Nothing opens after the Cancel: neither a later prompt nor a report.
    const QStringList seen = script.seen();
    QCOMPARE(seen.last(), left);
    QVERIFY(!seen.contains(QStringLiteral("dialog103")));
    QVERIFY(!seen.contains(QStringLiteral("dialog104")));
}

void WindowUseTest::escape_on_the_main_window_asks() {
    for (const bool yes : {false, true}) {
        WindowInteraction ui;
        Workspace ws(ui);
        MainDialog main(ws, ui);
        QVERIFY(main.build());
        main.dialog()->show();
        ModalScript script;
        script.on(QString::fromLatin1(kConfirmExitName), [yes](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            QVERIFY(box != nullptr);
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        QTest::keyClick(main.dialog(), Qt::Key_Escape);
        QVERIFY(script.all_ran());
        QCOMPARE(main.dialog()->isVisible(), !yes);
    }
}

void WindowUseTest::plot_ticks_stay_round_and_zoom_is_kept_data() {
    QTest::addColumn<QRectF>("zoom");  // fractions of the plot area
    QTest::newRow("peak top") << QRectF(0.4, 0.05, 0.2, 0.3);
    QTest::newRow("left flank") << QRectF(0.13, 0.2, 0.31, 0.57);
    QTest::newRow("background") << QRectF(0.7, 0.8, 0.17, 0.15);
}

void WindowUseTest::plot_ticks_stay_round_and_zoom_is_kept() {
    QFETCH(QRectF, zoom);
    PatternPlot plot;
    plot.resize(520, 320);
    plot.show();
    plot.set_pattern(*pattern_of(400, 20.0f, 0.02f));
    QCoreApplication::processEvents();
    const QRectF area = plot.chart()->plotArea();
    plot.chart()->zoomIn(QRectF(area.x() + zoom.x() * area.width(),
                                area.y() + zoom.y() * area.height(), zoom.width() * area.width(),
                                zoom.height() * area.height()));
    auto* x = qobject_cast<QValueAxis*>(plot.chart()->axes(Qt::Horizontal).first());
    auto* y = qobject_cast<QValueAxis*>(plot.chart()->axes(Qt::Vertical).first());
    QVERIFY(x != nullptr && y != nullptr);
    // Every labelled intensity is a round number.
    QCOMPARE(y->tickType(), QValueAxis::TicksDynamic);
    for (double v = std::ceil(y->min() / y->tickInterval()) * y->tickInterval(); v <= y->max();
         v += y->tickInterval())
        QVERIFY2(round_tick(v - y->tickAnchor(), y->tickInterval()),
                 qPrintable(QString::number(v)));
    // The logarithmic scale keeps the 2theta range, and back again.
    const double lo = x->min(), hi = x->max();
    const double y_lo = y->min(), y_hi = y->max();
    plot.set_log_scale(true);
    QCOMPARE(x->min(), lo);
    QCOMPARE(x->max(), hi);
    auto* log = qobject_cast<QLogValueAxis*>(plot.chart()->axes(Qt::Vertical).first());
    QVERIFY(log != nullptr);
    QVERIFY(log->minorTickCount() > 0);  // ticks between the decades
    plot.set_log_scale(false);
    QCOMPARE(x->min(), lo);
    QCOMPARE(x->max(), hi);
    QVERIFY(std::abs(y->min() - y_lo) <= 1e-6 * std::abs(y_hi) + 1e-9);
    // A double-click still shows the whole scan.
    plot.reset_zoom();
    QVERIFY(x->max() - x->min() > hi - lo);
}

void WindowUseTest::choosers_filter_by_format_data() {
    QTest::addColumn<int>("direction");
    QTest::newRow("input") << static_cast<int>(Direction::input);
    QTest::newRow("output") << static_cast<int>(Direction::output);
}

void WindowUseTest::choosers_filter_by_format() {
    QFETCH(int, direction);
    const auto dir = static_cast<Direction>(direction);
    const QStringList filters = chooser_filters(dir);
    QCOMPARE(filters.first(), QStringLiteral("All Files (*)"));
    int listed = 0;
    for (const FormatInfo& f : formats()) {
        if (dir == Direction::output ? !f.in_output_list : !f.reads) continue;
        ++listed;
        const QString pattern = from_bytes(f.filter_pattern);
        bool found = false;
        for (const QString& filter : filters) found = found || filter.contains(pattern);
        QVERIFY2(found, qPrintable(pattern));
    }
    QCOMPARE(filters.size(), listed + 1);
    // The chooser that opens offers them.
    WindowInteraction ui;
    Workspace ws(ui);
    MainDialog main(ws, ui);
    QVERIFY(main.build());
    main.dialog()->show();
    QStringList offered;
    ModalScript script;
    script.on(QString::fromLatin1(dir == Direction::input ? kInputChooserName : kOutputChooserName),
              [&](QDialog* d) {
                  offered = qobject_cast<QFileDialog*>(d)->nameFilters();
                  d->reject();
              });
    click(main.dialog(), dir == Direction::input ? id::input_select : id::output_select);
    QCOMPARE(offered, filters);
}

void WindowUseTest::failure_reason_is_above_ok_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("reason_first");
    QTest::newRow("refused format") << kMsgNotAvailable << true;
    QTest::newRow("read error") << "ERROR READING INPUT FILE AFTER LINE    3" << false;
    QTest::newRow("open") << kMsgOpenInput << false;
}

void WindowUseTest::failure_reason_is_above_ok() {
    QFETCH(QString, message);
    QFETCH(bool, reason_first);
    const std::string reason =
        "scan.txt is not a UXD file: its first line holds no _FILEVERSION, _START or "
        "_STEPSIZE entry, and no other line does either";
    const auto d =
        make_failure_dialog(fixed_text(to_bytes(message), kFailureMessageLength), reason);
    QVERIFY(d != nullptr);
    d->show();
    auto* note = d->findChild<QLabel*>(QStringLiteral("reason"));
    QVERIFY(note != nullptr);
    const QRect why = note->geometry();
    const QRect ok = d->control(id::ok)->geometry();
    const QRect headline = d->control(id::message)->geometry();
    QVERIFY(why.bottom() < ok.top());
    QCOMPARE(why.top() < headline.top(), reason_first);
    QVERIFY(!why.intersects(headline));
    // Whole: the wrapped text fits its label, inside the dialog.
    QVERIFY(note->heightForWidth(why.width()) <= why.height());
    QVERIFY(d->rect().contains(why));
    QVERIFY(note->textInteractionFlags() & Qt::TextSelectableByMouse);
    // No icon sits beside the reason.
    for (const QLabel* l : d->findChildren<QLabel*>())
        if (!l->pixmap().isNull()) QVERIFY(!l->geometry().intersects(why));
}

void WindowUseTest::success_shows_names_whole_and_the_full_path() {
    const auto r = pattern_of(20, 10.0f, 0.1f);
    ConversionSession s;
    s.input_path = "/data/run7/Sample_Quartz_reference_alpha.uxd";
    s.output_path = "/data/run7/out/Sample_Quartz_reference_alpha.dat";
    const auto d = make_success_dialog(*r, s);
    QVERIFY(d != nullptr);
    QCOMPARE(d->text(id::from_name), QStringLiteral("Sample_Quartz_reference_alpha.uxd"));
    QCOMPARE(d->text(id::to_name), QStringLiteral("Sample_Quartz_reference_alpha.dat"));
    auto* path = d->findChild<QLabel*>(QStringLiteral("output_path"));
    QVERIFY(path != nullptr);
    QVERIFY(
        path->text().endsWith(QStringLiteral("/data/run7/out/Sample_Quartz_reference_alpha.dat")));
    QVERIFY(path->fontMetrics().horizontalAdvance(path->text()) <= path->width());
    QVERIFY(d->rect().contains(path->geometry()));
}

void WindowUseTest::prompts_name_their_file() {
    WindowInteraction ui;
    ui.set_files("/data/run7/sample1.xy", "/data/run7/sample1.gsa");
    QString named_read, named_write;
    ModalScript script;
    script.on(QStringLiteral("dialog105"), [&](QDialog* d) {
        named_read = d->findChild<QLabel*>(QStringLiteral("file"))->text();
        click(d, id::ok);
    });
    script.on(QStringLiteral("dialog107"), [&](QDialog* d) {
        named_write = d->findChild<QLabel*>(QStringLiteral("file"))->text();
        click(d, id::ok);
    });
    ui.wavelength_prompt();
    ui.slit_prompt();
    QVERIFY(script.all_ran());
    QVERIFY2(named_read.contains(QStringLiteral("sample1.xy")), qPrintable(named_read));
    QVERIFY2(named_write.contains(QStringLiteral("sample1.gsa")), qPrintable(named_write));
}

void WindowUseTest::batch_table_is_compact_and_tells_what_was_done() {
    if (!QFileInfo::exists(kExamples + "quartz.uxd")) QSKIP("examples absent");
    Scratch scratch;
    QVERIFY(scratch.valid());
    QStringList files;
    for (int i = 0; i < 6; ++i) {
        const QString name = QStringLiteral("scan%1.uxd").arg(i);
        QFile::copy(kExamples + "quartz.uxd", scratch.path(name));
        files << scratch.path(name);
    }
    files << scratch.write(QStringLiteral("broken.uxd"), "_FILEVERSION=1\n_START= 10.0\n");
    WindowInteraction ui;
    BatchDialog batch(ui);
    batch.resize(900, 460);
    batch.show();
    batch.add_files(files);
    batch.set_output_format(FormatId::gsas);
    ScriptedInteraction::Answers answers;
    batch.answer_prompts_with(answers);
    QTableWidget* table = batch.table();
    const int font = table->fontMetrics().height();
    for (int row = 0; row < table->rowCount(); ++row)
        QVERIFY2(table->rowHeight(row) <= font * 16 / 10, qPrintable(QString::number(row)));
    // The file names take the room the short columns leave.
    QVERIFY(table->columnWidth(BatchDialog::file_column) >
            table->columnWidth(BatchDialog::points_column) +
                table->columnWidth(BatchDialog::outcome_column));
    QSignalSpy done(&batch, &BatchDialog::batch_finished);
    QVERIFY(batch.start());
    // The outcome column holds its word whole while the batch runs.
    const QString running = table->item(0, BatchDialog::outcome_column)->text();
    QVERIFY(table->columnWidth(BatchDialog::outcome_column) >=
            table->fontMetrics().horizontalAdvance(QStringLiteral("converting\u2026")));
    Q_UNUSED(running);
    // Cancelled before the lanes start (they start on the next turn of the
    // event loop; files are converted on worker threads, so a Cancel after
    // that would race them): what was done is said, the rest are marked.
    batch.cancel();
    QVERIFY(done.wait(20000));
    const QString status = batch.status();
    QVERIFY2(status.contains(QStringLiteral("cancelled")), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("not converted")), qPrintable(status));
    int cancelled = 0;
    for (int row = 0; row < table->rowCount(); ++row)
        cancelled +=
            table->item(row, BatchDialog::outcome_column)->text() == QLatin1String("cancelled");
    QCOMPARE(cancelled, 7);
    QVERIFY2(status.startsWith(QStringLiteral("0 of 7")), qPrintable(status));
    // The whole batch: the failure's reason can be read whole and copied.
    QVERIFY(batch.start());
    QVERIFY(done.wait(20000));
    const int broken = table->rowCount() - 1;
    table->setCurrentCell(broken, BatchDialog::file_column);
    auto* details = batch.findChild<QLabel*>(QStringLiteral("details"));
    QVERIFY(details != nullptr);
    const QString reason = table->item(broken, BatchDialog::reason_column)->text();
    QVERIFY(!reason.isEmpty());
    QVERIFY2(details->text().endsWith(reason), qPrintable(details->text()));
    QVERIFY(details->textInteractionFlags() & Qt::TextSelectableByMouse);
}

void WindowUseTest::batch_folder_is_checked_when_chosen() {
    Scratch scratch;
    WindowInteraction ui;
    BatchDialog batch(ui);
    batch.show();
    auto* folder = batch.findChild<QLineEdit*>(QStringLiteral("output_folder"));
    QVERIFY(folder != nullptr);
    folder->setText(scratch.path(QStringLiteral("nowhere")));
    emit folder->editingFinished();
    QVERIFY2(batch.status().contains(QStringLiteral("does not exist")), qPrintable(batch.status()));
    folder->setText(scratch.path(QString()));
    emit folder->editingFinished();
    QVERIFY(batch.status().isEmpty());
}

void WindowUseTest::mnemonics_keep_the_texts() {
    WindowInteraction ui;
    Workspace ws(ui);
    MainDialog main(ws, ui);
    QVERIFY(main.build());
    TemplateDialog& d = *main.dialog();
    d.show();
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    // The texts read as the templates give them; the letters are marked.
    QCOMPARE(d.text(1000), QStringLiteral("Input File"));
    QCOMPARE(d.text(id::convert), QStringLiteral("Convert"));
    QCOMPARE(d.findChild<QGroupBox*>(QStringLiteral("1000"))->title(),
             QStringLiteral("&Input File"));
    // Alt+I presses the input row's Select.
    ModalScript script;
    script.on(QString::fromLatin1(kInputChooserName), [](QDialog* c) { c->reject(); });
    QTest::keyClick(&d, Qt::Key_I, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(script.all_ran(), 10000);
}

QTEST_MAIN(WindowUseTest)
#include "window_use_test.moc"
