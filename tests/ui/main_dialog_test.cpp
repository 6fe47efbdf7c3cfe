// The main dialog driven as a user would: the file choosers, the format lists
// and their preselection, Convert enabling, Reset, the failed opens and whole
// conversions through the window.
#include <sys/stat.h>

#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include "core/codec_guard.h"
#include "core/record_io.h"
#include "tests/ui/ui_test_support.h"
#include "ui/main_dialog.h"
#include "ui/qt_text.h"

using namespace qelda;
using namespace qelda::ui;
using qelda::ui::testing::choose_file;
using qelda::ui::testing::click;
using qelda::ui::testing::ModalScript;
using qelda::ui::testing::Scratch;
using qelda::ui::testing::text_of;

namespace {

// A reader of a tiny test format (a title line, then "start step" and one
// intensity per line) and a writer of one intensity per line: enough for a
// conversion that succeeds without depending on a real codec.
ConversionStatus tiny_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        static const Layout kTitle("(A60)");
        static const Layout kScan("(2F10.0)");
        static const Layout kValue("(F10.0)");
        static const Layout kOut("(F10.3)");
        PowderPattern& r = ws.record();
        if (mode == CodecMode::write) {
            write_record(ws.output(), kTitle, {r.title});
            for (int32_t i = 1; i <= r.point_count; ++i)
                write_record(ws.output(), kOut, {r.intensity(i)});
            return ConversionStatus::done;
        }
        std::string title;
        float start = 0, step = 0;
        if (read_record(ws.input(), kTitle, {TextRef{title, kTitleLength}}) != Outcome::done ||
            read_record(ws.input(), kScan, {start, step}) != Outcome::done)
            return ConversionStatus::premature_end;
        r.set_title(title);
        r.point_count = 0;
        float value = 0;
        while (read_record(ws.input(), kValue, {value}) == Outcome::done)
            r.intensity(++r.point_count) = value;
        r.two_theta_start = start;
        r.two_theta_step = step;
        r.two_theta_end = start + static_cast<float>(r.point_count - 1) * step;
        r.lambda1 = 1.5405f;
        r.lambda2 = 0.0f;
        r.alpha_ratio = 0.0f;
        return ConversionStatus::done;
    });
}

// A reader whose statement without outcomes reads past the end of its file.
ConversionStatus aborting_codec(Workspace& ws, CodecMode) noexcept {
    return guard_codec(ws, [&] {
        static const Layout kTitle("(A60)");
        std::string title;
        for (;;) read_record_or_abort(ws.input(), kTitle, {TextRef{title, kTitleLength}});
        return ConversionStatus::done;
    });
}

const FormatInfo kTestTable[] = {
    {FormatId::ascii_xy, "Ascii x-y", "DAT", "", "", "xy", tiny_codec, true, true, true},
    {FormatId::dbw, "DBW", "DBW", "", "", "dbw", aborting_codec, true, true, true},
};

// The window as the program builds it, shown.
struct Window {
    WindowInteraction ui;
    Workspace ws{ui};
    MainDialog main{ws, ui};
    bool built = main.build();

    Window() {
        if (built) main.dialog()->show();
    }
    TemplateDialog& d() { return *main.dialog(); }
    QComboBox* list(int id) { return d().control_as<QComboBox>(id); }
    bool convert_enabled() { return d().control(id::convert)->isEnabled(); }
    // The user picks entry k of a list (k from 1).
    void pick(int list_id, int entry) {
        list(list_id)->setCurrentIndex(entry - 1);
        emit list(list_id)->activated(entry - 1);
    }
};

// Presses Select and answers the chooser: `path` is typed and accepted, or,
// when null, the chooser is cancelled. `inspect` sees the chooser first.
bool select_file(Window& w, Direction direction, const QString& path,
                 const std::function<void(QFileDialog*)>& inspect = {}) {
    const bool input = direction == Direction::input;
    ModalScript script;
    script.on(QString::fromLatin1(input ? kInputChooserName : kOutputChooserName), [&](QDialog* d) {
        auto* chooser = qobject_cast<QFileDialog*>(d);
        QVERIFY(chooser != nullptr);
        if (inspect) inspect(chooser);
        if (path.isNull())
            d->reject();
        else
            choose_file(chooser, path);
    });
    click(&w.d(), input ? id::input_select : id::output_select);
    return script.all_ran() && !script.tripped();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

void verify_start_state(Window& w, int list_index) {
    QCOMPARE(text_of(&w.d(), id::input_name), QStringLiteral("No file selected"));
    QCOMPARE(text_of(&w.d(), id::output_name), QStringLiteral("No file selected"));
    QCOMPARE(w.list(id::input_list)->currentIndex(), list_index);
    QCOMPARE(w.list(id::output_list)->currentIndex(), list_index);
    QVERIFY(!w.convert_enabled());
    QVERIFY(!w.ws.session().input_ready);
    QVERIFY(!w.ws.session().output_ready);
    QCOMPARE(static_cast<int>(w.ws.session().input_format), 0);
    QCOMPARE(static_cast<int>(w.ws.session().output_format), 0);
}

}  // namespace

class MainDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void start_state();
    void chooser_settings();
    void chooser_remembers_the_file_and_the_format();
    void preselection_data();
    void preselection();
    void convert_enabling();
    void reset();
    void cancelled_output_chooser_leaves_no_stale_selection();
    void output_file_is_not_created_and_an_existing_one_kept();
    void the_input_is_never_the_output_data();
    void the_input_is_never_the_output();
    void long_names_are_elided_with_the_path_as_tooltip();
    void a_file_dropped_on_the_input_row_is_chosen();
    void failed_opens_data();
    void failed_opens();
    void conversion_that_is_not_available();
    void successful_conversion();
    void failed_statement_is_reported_and_the_window_goes_on();
    void exit_ends_the_dialog();
};

void MainDialogTest::start_state() {
    Window w;
    QVERIFY(w.built);
    const QStringList input{"",
                            "Ascii x-y",
                            "GSAS cw data",
                            "Stoe raw",
                            "Siemans uxd",
                            "Scintag ard",
                            "DBW",
                            "Stoe ascii",
                            "Phillips udf",
                            "GSAS cif",
                            "PANalytical xrdml",
                            "Bruker raw",
                            "Bruker brml",
                            "Rigaku ras",
                            "Rigaku rasx",
                            "Philips rd",
                            "Rigaku dat",
                            "Sietronics cpi",
                            "Riet7 dat",
                            "CSV",
                            "NeXus"};
    for (int list_id : {id::input_list, id::output_list}) {
        QStringList entries;
        for (int i = 0; i < w.list(list_id)->count(); ++i) entries << w.list(list_id)->itemText(i);
        const QStringList added{"GSAS cif", "Ascii xye", "GSAS fxye", "JSON", "NeXus"};
        QCOMPARE(entries, list_id == id::input_list ? input : input.mid(0, 7) + added);
    }
    verify_start_state(w, -1);  // no entry selected: both boxes empty
    QCOMPARE(w.d().windowTitle(), QStringLiteral("QELDA 2.01   Powder Data File Convertor"));
}

void MainDialogTest::chooser_settings() {
    Window w;
    const QStringList all{"All Files (*)",
                          "Ascii .dat (*.dat)",
                          "GSAS cw data (*.gsa)",
                          "Stoe raw (*.raw)",
                          "Siemans uxd (*.uxd)",
                          "Scintag Files (*.ard)",
                          "DBW (*.dbw)",
                          "Stoe Ascii (*.asc)",
                          "Phillips udf (*.udf)",
                          "GSAS cif (*.cif)",
                          "PANalytical xrdml (*.xrdml)",
                          "Bruker raw (*.raw)",
                          "Bruker brml (*.brml)",
                          "Rigaku ras (*.ras)",
                          "Rigaku rasx (*.rasx)",
                          "Philips rd (*.rd *.sd)",
                          "Rigaku dat (*.dat *.asc)",
                          "Sietronics cpi (*.cpi)",
                          "Riet7 dat (*.dat)",
                          "CSV (*.csv)",
                          "NeXus (*.nxs *.nx5 *.h5 *.hdf5)"};
    QVERIFY(select_file(w, Direction::input, QString(), [&](QFileDialog* c) {
        QCOMPARE(c->windowTitle(), QStringLiteral("Open Input Data File"));
        QCOMPARE(c->nameFilters(), all);
        QCOMPARE(c->selectedNameFilter(), all.first());
        QCOMPARE(c->defaultSuffix(), QStringLiteral("dat"));
        QVERIFY(c->testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(c->fileMode(), QFileDialog::ExistingFile);
    }));
    QVERIFY(select_file(w, Direction::output, QString(), [&](QFileDialog* c) {
        QCOMPARE(c->windowTitle(), QStringLiteral("Open Output Data File"));
        const QStringList added{"GSAS cif (*.cif)", "Ascii xye (*.xye)", "GSAS fxye (*.fxye)",
                                "JSON record (*.json)", "NeXus (*.nxs *.nx5 *.h5 *.hdf5)"};
        QCOMPARE(c->nameFilters(), all.mid(0, 7) + added);
        QCOMPARE(c->selectedNameFilter(), all.first());
        QCOMPARE(c->defaultSuffix(), QStringLiteral("dat"));
        QVERIFY(c->testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(c->fileMode(), QFileDialog::AnyFile);
        QVERIFY(c->testOption(QFileDialog::DontConfirmOverwrite));
    }));
    // A cancelled chooser changes nothing.
    verify_start_state(w, -1);
}

void MainDialogTest::chooser_remembers_the_file_and_the_format() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString scan = dir.write("scan.uxd", "x\n");
    Window w;
    QVERIFY(select_file(w, Direction::input, scan));
    // The chooser opens on the chosen file, with the filter of the chosen format.
    QVERIFY(select_file(w, Direction::input, QString(), [&](QFileDialog* c) {
        QCOMPARE(c->selectedNameFilter(), QStringLiteral("Siemans uxd (*.uxd)"));
        QCOMPARE(c->directory().absolutePath(), QFileInfo(scan).absolutePath());
        QCOMPARE(c->selectedFiles().value(0), scan);
    }));
    // Cancelled with a file chosen: the file stays chosen.
    QVERIFY(w.ws.session().input_ready);
    QCOMPARE(text_of(&w.d(), id::input_name), QStringLiteral("scan.uxd"));
    // After a reset the chooser still offers what it last returned.
    click(&w.d(), id::reset);
    QVERIFY(select_file(w, Direction::input, QString(), [&](QFileDialog* c) {
        QCOMPARE(c->selectedFiles().value(0), scan);
        QCOMPARE(c->selectedNameFilter(), QStringLiteral("All Files (*)"));
    }));
}

void MainDialogTest::preselection_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("input");
    QTest::addColumn<int>("before");  // entry picked by hand first (0: none)
    QTest::addColumn<int>("entry");   // entry selected afterwards (0: none)
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("scan.UXD, any case") << "scan.UXD" << true << 0 << 5 << QByteArray("1\n");
    QTest::newRow("scan.gsa") << "scan.gsa" << true << 2 << 3 << QByteArray("1\n");
    QTest::newRow("scan.cif in") << "scan.cif" << true << 0 << 10 << QByteArray("1\n");
    QTest::newRow("a dot in a folder name")
        << "my.files/scan.uxd" << true << 2 << 5 << QByteArray("1\n");
    QTest::newRow("scan.xy") << "scan.xy" << true << 0 << 2 << QByteArray("1\n");
    QTest::newRow("scan.XYE") << "scan.XYE" << true << 4 << 2 << QByteArray("1\n");
    QTest::newRow("out.xyd") << "out.xyd" << false << 0 << 2 << QByteArray("1\n");
    QTest::newRow("raw told by its content")
        << "scan.raw" << true << 0 << 12 << QByteArray("RAW1.01\0\0\0", 10);
    QTest::newRow("no extension, told by content")
        << "scan" << true << 0 << 12 << QByteArray("RAW2\0\0\0\0", 8);
    QTest::newRow("raw the content cannot tell")
        << "scan.raw" << true << 0 << 4 << QByteArray("1\n");
    QTest::newRow("no extension") << "scan" << true << 0 << 0 << QByteArray("1\n");
    QTest::newRow("unknown extension") << "scan.xyz" << true << 4 << 4 << QByteArray("1\n");
    QTest::newRow("out.DbW") << "out.DbW" << false << 0 << 7 << QByteArray("1\n");
    QTest::newRow("out.cif") << "out.cif" << false << 3 << 8 << QByteArray("1\n");
    QTest::newRow("asc is not an output") << "out.asc" << false << 0 << 0 << QByteArray("1\n");
    QTest::newRow("out.ard") << "out.ard" << false << 2 << 6 << QByteArray("1\n");
}

void MainDialogTest::preselection() {
    QFETCH(QString, file);
    QFETCH(bool, input);
    QFETCH(int, before);
    QFETCH(int, entry);
    QFETCH(QByteArray, content);
    Scratch dir;
    QVERIFY(dir.valid());
    if (file.contains('/')) QVERIFY(QDir().mkpath(dir.path(file.section('/', 0, 0))));
    const QString path = dir.write(file, content);
    Window w;
    const int list_id = input ? id::input_list : id::output_list;
    if (before != 0) w.pick(list_id, before);
    QVERIFY(select_file(w, input ? Direction::input : Direction::output, path));
    QCOMPARE(w.list(list_id)->currentIndex() + 1, entry);
    QCOMPARE(text_of(&w.d(), input ? id::input_name : id::output_name), QFileInfo(path).fileName());
}

void MainDialogTest::convert_enabling() {
    Scratch dir;
    QVERIFY(dir.valid());
    Window w;
    QVERIFY(select_file(w, Direction::input, dir.write("a.xyz", "1\n")));
    QVERIFY(!w.convert_enabled());
    QVERIFY(select_file(w, Direction::output, dir.path("b.xyz")));
    QVERIFY(!w.convert_enabled());  // no format in either list
    w.pick(id::input_list, 4);
    QVERIFY(!w.convert_enabled());
    w.pick(id::output_list, 5);
    QVERIFY(w.convert_enabled());
    QCOMPARE(w.ws.session().input_format, FormatId::stoe_raw);
    QCOMPARE(w.ws.session().output_format, FormatId::siemens_uxd);
    w.pick(id::output_list, 1);  // the empty entry
    QVERIFY(!w.convert_enabled());
    w.pick(id::output_list, 6);
    QVERIFY(w.convert_enabled());
    w.pick(id::input_list, 1);
    QVERIFY(!w.convert_enabled());
}

void MainDialogTest::reset() {
    Scratch dir;
    QVERIFY(dir.valid());
    Window w;
    QVERIFY(select_file(w, Direction::input, dir.write("a.uxd", "1\n")));
    QVERIFY(select_file(w, Direction::output, dir.path("b.gsa")));
    QVERIFY(w.convert_enabled());
    click(&w.d(), id::reset);
    verify_start_state(w, 0);  // both lists on the empty entry
    // Reset closes no unit.
    QVERIFY(w.ws.input().is_open());
    QVERIFY(w.ws.output().is_open());
}

void MainDialogTest::cancelled_output_chooser_leaves_no_stale_selection() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString out = dir.write("keep.dat", "keep me\n");
    Window w;
    QVERIFY(select_file(w, Direction::input, dir.write("a.uxd", "1\n")));
    QVERIFY(select_file(w, Direction::output, out));
    QVERIFY(w.convert_enabled());
    QVERIFY(select_file(w, Direction::output, QString(), [&](QFileDialog* c) {
        QCOMPARE(c->selectedFiles().value(0), out);  // offered again
    }));
    QCOMPARE(text_of(&w.d(), id::output_name), QStringLiteral("No file selected"));
    QVERIFY(!w.convert_enabled());
    QVERIFY(!w.ws.session().output_ready);
    QVERIFY(!w.ws.output().is_open());
    QCOMPARE(contents(out), QByteArray("keep me\n"));
    // Convert does nothing now, even when pressed by other means.
    ModalScript none;
    w.main.convert();
    QVERIFY(none.seen().isEmpty());
}

void MainDialogTest::output_file_is_not_created_and_an_existing_one_kept() {
    Scratch dir;
    QVERIFY(dir.valid());
    Window w;
    const QString fresh = dir.path("new.dat");
    QVERIFY(select_file(w, Direction::output, fresh));
    QVERIFY(w.ws.session().output_ready);
    QCOMPARE(contents(fresh), QByteArray("<absent>"));
    const QString old = dir.write("old.dat", "old contents\n");
    QVERIFY(select_file(w, Direction::output, old));  // no warning for an existing file
    QCOMPARE(contents(old), QByteArray("old contents\n"));
    QCOMPARE(w.ws.session().output_path, to_path(old));
}

void MainDialogTest::the_input_is_never_the_output_data() {
    QTest::addColumn<bool>("input_first");
    QTest::addColumn<QString>("message");
    QTest::newRow("output chosen as the input") << true << "ERROR OPENING OUTPUT DATA FILE";
    QTest::newRow("input chosen as the output") << false << "ERROR OPENING INPUT DATA FILE";
}

void MainDialogTest::the_input_is_never_the_output() {
    QFETCH(bool, input_first);
    QFETCH(QString, message);
    Scratch dir;
    QVERIFY(dir.valid());
    const QString scan = dir.write("scan.dat", "measured\n");
    // Another spelling of the same file.
    const QString again = dir.path("../") + QFileInfo(dir.path("")).fileName() + "/scan.dat";
    Window w;
    QVERIFY(select_file(w, input_first ? Direction::input : Direction::output, scan));
    ModalScript failure;
    QString shown, reason;
    failure.on("dialog103", [&](QDialog* d) {
        shown = text_of(d, id::message);
        reason = d->findChild<QLabel*>("reason")->text();
        click(d, id::ok);
    });
    QVERIFY(select_file(w, input_first ? Direction::output : Direction::input, again));
    QVERIFY(failure.all_ran());
    QCOMPARE(shown, message);
    QVERIFY2(reason.startsWith("scan.dat is the "), qPrintable(reason));
    // The first choice stands, the second was not taken.
    QCOMPARE(w.ws.session().input_ready, input_first);
    QCOMPARE(w.ws.session().output_ready, !input_first);
    QVERIFY(!w.convert_enabled());
    QCOMPARE(contents(scan), QByteArray("measured\n"));
}

void MainDialogTest::long_names_are_elided_with_the_path_as_tooltip() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString name = "sample_" + QString(60, 'x') + "_end.uxd";
    const QString path = dir.write(name, "1\n");
    Window w;
    QVERIFY(select_file(w, Direction::input, path));
    auto* field = w.d().control_as<QLabel>(id::input_name);
    const QString shown = field->text();
    QVERIFY2(
        shown.startsWith("sample_") && shown.endsWith("_end.uxd") && shown.contains(QChar(0x2026)),
        qPrintable(shown));
    QVERIFY(field->fontMetrics().horizontalAdvance(shown) <= field->contentsRect().width());
    QCOMPARE(field->toolTip(), path);
    click(&w.d(), id::reset);
    QVERIFY(field->toolTip().isEmpty());
}

void MainDialogTest::a_file_dropped_on_the_input_row_is_chosen() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString path = dir.write("dropped.uxd", "1\n");
    Window w;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    auto drop_at = [&](QPoint at) {
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w.d(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w.d(), &drop);
    };
    drop_at(w.d().control(id::output_name)->geometry().center());  // the output row takes none
    QVERIFY(!w.ws.session().input_ready);
    QVERIFY(!w.ws.session().output_ready);
    drop_at(w.d().control(id::input_name)->geometry().center());
    QVERIFY(w.ws.session().input_ready);
    QCOMPARE(text_of(&w.d(), id::input_name), QStringLiteral("dropped.uxd"));
    QCOMPARE(w.list(id::input_list)->currentIndex() + 1, 5);
}

void MainDialogTest::failed_opens_data() {
    QTest::addColumn<bool>("input");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    // A named pipe made in the scratch folder: not a regular file.
    QTest::newRow("input not a file") << true << "pipe"
                                      << "ERROR OPENING INPUT DATA FILE";
    QTest::newRow("output folder absent") << false << "/nonexistent_qelda_folder/out.dat"
                                          << "ERROR OPENING OUTPUT DATA FILE";
}

void MainDialogTest::failed_opens() {
    QFETCH(bool, input);
    QFETCH(QString, path);
    QFETCH(QString, message);
    Scratch dir;
    QVERIFY(dir.valid());
    Window w;
    // Something chosen before, so that the reset shows.
    QVERIFY(select_file(w, Direction::input, dir.write("a.uxd", "1\n")));
    QVERIFY(select_file(w, Direction::output, dir.path("b.gsa")));
    if (path == QStringLiteral("pipe")) {
        path = dir.path("pipe");
        QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    }
    ModalScript failure;
    QString shown;
    failure.on("dialog103", [&](QDialog* d) {
        shown = text_of(d, id::message);
        click(d, id::ok);
    });
    QVERIFY(select_file(w, input ? Direction::input : Direction::output, path));
    QVERIFY(failure.all_ran());
    QCOMPARE(shown, message);
    verify_start_state(w, 0);
}

void MainDialogTest::conversion_that_is_not_available() {
    Scratch dir;
    QVERIFY(dir.valid());
    // A GSAS file whose BANK record has another binning than CONST.
    const QString in = dir.write("scan.gsa", "Silicon\nBANK 1 100 20 LOG6 1000 10 0 0 STD\n");
    const QString out = dir.path("out.dat");
    Window w;
    QVERIFY(select_file(w, Direction::input, in));
    QVERIFY(select_file(w, Direction::output, out));
    QCOMPARE(w.list(id::input_list)->currentIndex() + 1, 3);
    QCOMPARE(w.list(id::output_list)->currentIndex() + 1, 2);
    QVERIFY(w.convert_enabled());
    ModalScript script;
    QString shown;
    script.on("dialog103", [&](QDialog* d) {
        shown = text_of(d, id::message);
        click(d, id::ok);
    });
    click(&w.d(), id::convert);
    QVERIFY(script.all_ran());
    QCOMPARE(script.seen(), QStringList{"dialog103"});  // no dataset, no prompt
    QCOMPARE(shown, QStringLiteral("THIS DATA FORMAT NOT YET AVAILABLE"));
    verify_start_state(w, 0);
    QCOMPARE(contents(out), QByteArray("<absent>"));  // nothing created
    QVERIFY(!w.ws.input().is_open());
}

void MainDialogTest::successful_conversion() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString in = dir.write("in.dat", "Alumina\n      10.0      0.02\n5\n7\n9\n");
    const QString out = dir.write("res.dat", "old\n");
    Window w;
    w.main.set_conversion_table(kTestTable);
    QVERIFY(select_file(w, Direction::input, in));
    QVERIFY(select_file(w, Direction::output, out));
    QVERIFY(w.convert_enabled());
    ModalScript script;
    QStringList dataset, success;
    script.on("dialog102", [&](QDialog* d) {
        for (int field : {id::title, id::start, id::end, id::step, id::steps, id::lambda1,
                          id::lambda2, id::ratio})
            dataset << text_of(d, field);
        click(d, id::ok);
    });
    script.on("dialog104", [&](QDialog* d) {
        for (int field : {id::count_line, id::from_name, id::to_name}) success << text_of(d, field);
        click(d, id::ok);
    });
    click(&w.d(), id::convert);
    QVERIFY(script.all_ran());
    QCOMPARE(script.seen(), (QStringList{"dialog102", "dialog104"}));
    QCOMPARE(dataset,
             (QStringList{QStringLiteral("Alumina").leftJustified(60), "  10.000", "  10.040",
                          "   0.020", "    3", "1.54050", "0.00000", "0.00000"}));
    QCOMPARE(success, (QStringList{"      3 Data converted", "in.dat", "res.dat"}));
    QCOMPARE(contents(out), QByteArray("Alumina" + QByteArray(53, ' ') +
                                       "\r\n     5.000\r\n     7.000\r\n     9.000\r\n"));
    verify_start_state(w, 0);
}

void MainDialogTest::failed_statement_is_reported_and_the_window_goes_on() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString in = dir.write("in.dbw", "one line\n");
    Window w;
    w.main.set_conversion_table(kTestTable);
    QVERIFY(select_file(w, Direction::input, in));
    QVERIFY(select_file(w, Direction::output, dir.path("out.dbw")));
    ModalScript script;
    QString shown;
    script.on("dialog103", [&](QDialog* d) {
        shown = text_of(d, id::message);
        click(d, id::ok);
    });
    click(&w.d(), id::convert);
    QVERIFY(script.all_ran());
    QCOMPARE(shown, QStringLiteral("end-of-file during read, unit 1, file in.dbw"));
    QVERIFY(w.d().isVisible());
    verify_start_state(w, 0);
}

void MainDialogTest::exit_ends_the_dialog() {
    Window w;
    w.d().hide();
    ModalScript script;
    script.on("dialog101", [&](QDialog* d) { click(d, id::exit); });
    QCOMPARE(w.main.exec(), id::exit);
    QVERIFY(script.all_ran());
}

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
