// The batch dialog: three files converted (one failing) and each reported, the
// prompts asked once for the whole batch, the plans that are refused, and
// every scan of each file converted into an output of its own.
#include <QComboBox>
#include <QDir>
#include <QMap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "core/codec_guard.h"
#include "core/prompts.h"
#include "core/record_io.h"
#include "tests/ui/ui_test_support.h"
#include "ui/batch_dialog.h"

using namespace qelda;
using namespace qelda::ui;
using qelda::ui::testing::click;
using qelda::ui::testing::ModalScript;
using qelda::ui::testing::Scratch;

namespace {

// Reads one intensity per line after asking for the wavelengths; writes the
// title and one intensity per line.
ConversionStatus asking_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        static const Layout kValue("(F10.0)");
        static const Layout kTitle("(A60)");
        PowderPattern& r = ws.record();
        if (mode == CodecMode::write) {
            write_record(ws.output(), kTitle, {r.title});
            for (int32_t i = 1; i <= r.point_count; ++i)
                write_record(ws.output(), kValue, {r.intensity(i)});
            return ConversionStatus::done;
        }
        ask_wavelengths(ws);
        r.point_count = 0;
        float value = 0;
        while (read_record(ws.input(), kValue, {value}) == Outcome::done)
            r.intensity(++r.point_count) = value;
        if (r.point_count == 0) return ws.fail(ConversionStatus::premature_end, "no counts");
        r.two_theta_start = 10.0f;
        r.two_theta_step = 0.02f;
        r.two_theta_end = 10.0f + 0.02f * static_cast<float>(r.point_count - 1);
        return ConversionStatus::done;
    });
}

const FormatInfo kTestTable[] = {
    {FormatId::ascii_xy, "Ascii x-y", "DAT", "", "", "xy", asking_codec, true, true, true},
};

struct Batch {
    WindowInteraction ui;
    BatchDialog dialog{ui};
    Batch() { dialog.set_conversion_table(kTestTable); }
    QString cell(int row, int column) { return dialog.table()->item(row, column)->text(); }
    bool run() {
        QSignalSpy done(&dialog, &BatchDialog::batch_finished);
        return dialog.start() && done.wait(10000);
    }
};

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

}  // namespace

class BatchDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void three_files_one_failing_prompts_asked_once();
    void cancel_stops_before_the_next_file();
    void real_samples_detected_per_file();
    void refused_plans_data();
    void refused_plans();
    void all_scans_of_each_file_data();
    void all_scans_of_each_file();
    void lanes_give_what_one_gives_data();
    void lanes_give_what_one_gives();
    void cancel_in_a_prompt_leaves_outputs_whole_data();
    void cancel_in_a_prompt_leaves_outputs_whole();
    void closed_while_converting();
};

void BatchDialogTest::three_files_one_failing_prompts_asked_once() {
    Scratch dir;
    QVERIFY(dir.valid());
    QVERIFY(QDir().mkpath(dir.path("out")));
    Batch b;
    b.dialog.add_files(
        {dir.write("a.xy", "5\n7\n"), dir.write("b.xy", ""), dir.write("c.txt", "1\n2\n3\n")});
    b.dialog.add_files({dir.path("a.xy")});  // listed once
    QCOMPARE(b.dialog.table()->rowCount(), 3);
    b.dialog.set_input_format(FormatId::ascii_xy);
    b.dialog.set_output_format(FormatId::ascii_xy);
    b.dialog.set_output_folder(dir.path("out"));
    ModalScript script;
    script.on("dialog105", [&](QDialog* d) {
        qelda::ui::testing::type_into(d, id::alpha1_box, "0.7093");
        click(d, id::ok);
    });
    QVERIFY(b.run());
    QVERIFY(script.all_ran());
    QCOMPARE(script.seen(), QStringList{"dialog105"});  // once, for the first file
    const QStringList outcomes{b.cell(0, BatchDialog::outcome_column),
                               b.cell(1, BatchDialog::outcome_column),
                               b.cell(2, BatchDialog::outcome_column)};
    QCOMPARE(outcomes, (QStringList{"converted", "failed", "converted"}));
    QCOMPARE(b.cell(0, BatchDialog::points_column), QStringLiteral("2"));
    QCOMPARE(b.cell(2, BatchDialog::points_column), QStringLiteral("3"));
    QCOMPARE(b.cell(1, BatchDialog::reason_column), QStringLiteral("no counts"));
    QVERIFY(b.dialog.status().startsWith(
        QStringLiteral("2 of 3 files converted, 1 failed; the outputs are in ")));
    // Each file keeps its own title; nothing is written for the failed one.
    QVERIFY(contents(dir.path("out/a.dat")).startsWith("a.xy "));
    QVERIFY(contents(dir.path("out/c.dat")).startsWith("c.txt "));
    QCOMPARE(contents(dir.path("out/b.dat")), QByteArray("<absent>"));
}

void BatchDialogTest::cancel_stops_before_the_next_file() {
    Scratch dir;
    QVERIFY(dir.valid());
    Batch b;
    b.dialog.add_files({dir.write("a.xy", "5\n"), dir.write("b.xy", "6\n")});
    b.dialog.set_input_format(FormatId::ascii_xy);
    b.dialog.set_output_format(FormatId::ascii_xy);
    b.dialog.answer_prompts_with({});
    QSignalSpy done(&b.dialog, &BatchDialog::batch_finished);
    QVERIFY(b.dialog.start());
    b.dialog.cancel();
    QVERIFY(done.wait(10000));
    QCOMPARE(b.cell(0, BatchDialog::outcome_column), QStringLiteral("cancelled"));
    QCOMPARE(b.cell(1, BatchDialog::outcome_column), QStringLiteral("cancelled"));
    QCOMPARE(b.dialog.status(),
             QStringLiteral("0 of 2 files converted; cancelled, 2 not converted."));
    QCOMPARE(contents(dir.path("a.dat")), QByteArray("<absent>"));
}

void BatchDialogTest::real_samples_detected_per_file() {
    const QDir samples(QStringLiteral(QELDA_SAMPLES_DIR));
    const QStringList files{samples.filePath("uxd/BT86_.UXD"), samples.filePath("uxd/sample1.uxd"),
                            samples.filePath("udf/ZEOLITE.UDF")};
    for (const QString& f : files)
        if (!QFileInfo::exists(f)) QSKIP("the sample files are absent");
    Scratch dir;
    QVERIFY(dir.valid());
    WindowInteraction ui;
    BatchDialog batch(ui);  // the real format table
    batch.add_files(files);
    const QStringList detected{batch.table()->item(0, BatchDialog::format_column)->text(),
                               batch.table()->item(2, BatchDialog::format_column)->text()};
    QCOMPARE(detected, (QStringList{"Siemans uxd", "Phillips udf"}));
    batch.set_output_format(FormatId::gsas);
    batch.set_output_folder(dir.path(""));
    batch.answer_prompts_with({});
    QSignalSpy done(&batch, &BatchDialog::batch_finished);
    ModalScript none;
    QVERIFY(batch.start() && done.wait(20000));
    QVERIFY(none.seen().isEmpty());
    for (int row = 0; row < 3; ++row) {
        QVERIFY2(batch.table()->item(row, BatchDialog::outcome_column)->text() == "converted",
                 qPrintable(batch.table()->item(row, BatchDialog::reason_column)->text()));
        QVERIFY(batch.table()->item(row, BatchDialog::points_column)->text().toInt() > 100);
    }
    QCOMPARE(QDir(dir.path("")).entryList(QDir::Files).size(), 3);
}

void BatchDialogTest::refused_plans_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("beside");  // outputs beside the inputs, else in one folder
    QTest::newRow("two inputs onto one output") << QStringList{"s.xy", "s.txt"} << false;
    QTest::newRow("an output that is an input") << QStringList{"s.dat"} << true;
}

void BatchDialogTest::refused_plans() {
    QFETCH(QStringList, files);
    QFETCH(bool, beside);
    Scratch dir;
    QVERIFY(dir.valid());
    Batch b;
    QStringList paths;
    for (const QString& f : files) paths << dir.write(f, "measured\n");
    b.dialog.add_files(paths);
    b.dialog.set_input_format(FormatId::ascii_xy);
    b.dialog.set_output_format(FormatId::ascii_xy);
    b.dialog.set_output_folder(beside ? QString() : dir.path(""));
    ModalScript none;
    QVERIFY(!b.dialog.start());
    QVERIFY(!b.dialog.running());
    QVERIFY2(b.dialog.status().startsWith("Nothing converted: "), qPrintable(b.dialog.status()));
    QVERIFY(none.seen().isEmpty());
    for (const QString& p : paths) QCOMPARE(contents(p), QByteArray("measured\n"));
}

// Two 2theta ranges around a phi scan.
const QByteArray kThreeRanges =
    "_WL1=1.5406\r\n_DRIVE='COUPLED'\r\n_STEPSIZE=0.02\r\n_START=10.0\r\n_STEPCOUNT=3\r\n"
    "_COUNTS\r\n 10 20 30\r\n"
    "_DRIVE='PHI'\r\n_STEPSIZE=5.0\r\n_START=0.0\r\n_STEPCOUNT=3\r\n_COUNTS\r\n 1 2 3\r\n"
    "_DRIVE='COUPLED'\r\n_STEPSIZE=0.05\r\n_START=20.0\r\n_STEPCOUNT=4\r\n_COUNTS\r\n"
    " 5 6 7 8\r\n";

void BatchDialogTest::all_scans_of_each_file_data() {
    QTest::addColumn<QStringList>("files");     // built here, or samples
    QTest::addColumn<QStringList>("outcomes");  // of the rows, files' and scans'
    QTest::addColumn<QStringList>("outputs");   // written into the folder
    QTest::addColumn<QString>("status");
    QTest::newRow("three ranges and one")
        << QStringList{"ranges.uxd", "one.uxd"}
        << QStringList{"3 scans", "converted", "skipped", "converted", "1 scan", "converted"}
        << QStringList{"one_01.dbw", "ranges_01.dbw", "ranges_03.dbw"}
        << QStringLiteral("3 of 4 scans converted, 1 skipped (not 2\u03b8)");
    QStringList eighteen{"18 scans"}, names;
    for (int k = 1; k <= 18; ++k) {
        eighteen << "converted";
        names << QStringLiteral("Sin2Psi_%1.dbw").arg(k, 2, 10, QLatin1Char('0'));
    }
    QTest::newRow("a sample of 18 scans") << QStringList{"multi_scan/Sin2Psi.brml"} << eighteen
                                          << names << QStringLiteral("18 of 18 scans converted");
    // Two files of one name give the same outputs: refused before anything is read.
    QTest::newRow("one series in two formats")
        << QStringList{"multi_scan/Temperature.brml", "multi_scan/Temperature.uxd"}
        << QStringList{"", ""} << QStringList{} << QStringLiteral("Nothing converted: ");
}

void BatchDialogTest::all_scans_of_each_file() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, outcomes);
    QFETCH(QStringList, outputs);
    QFETCH(QString, status);
    Scratch dir;
    QVERIFY(dir.valid());
    QVERIFY(QDir().mkpath(dir.path("out")));
    QStringList paths;
    for (const QString& f : files) {
        if (f == QLatin1String("ranges.uxd")) {
            paths << dir.write(f, kThreeRanges);
        } else if (f == QLatin1String("one.uxd")) {
            paths << dir.write(f, kThreeRanges.left(kThreeRanges.indexOf("_DRIVE='PHI'")));
        } else {
            paths << QStringLiteral(QELDA_SAMPLES_DIR "/") + f;
            if (!QFileInfo::exists(paths.back())) QSKIP("the sample files are absent");
        }
    }
    WindowInteraction ui;
    BatchDialog batch(ui);  // the real format table
    batch.add_files(paths);
    batch.set_output_format(FormatId::dbw);
    batch.set_output_folder(dir.path("out"));
    batch.set_all_scans(true);
    batch.answer_prompts_with({});
    QSignalSpy done(&batch, &BatchDialog::batch_finished);
    ModalScript none;
    const bool started = batch.start();
    QCOMPARE(started, !outputs.isEmpty());
    if (started) QVERIFY(done.wait(20000));
    QVERIFY(none.seen().isEmpty());
    QStringList shown;
    for (int row = 0; row < batch.table()->rowCount(); ++row)
        shown << batch.table()->item(row, BatchDialog::outcome_column)->text();
    QCOMPARE(shown, outcomes);
    QVERIFY2(batch.status().startsWith(status), qPrintable(batch.status()));
    QCOMPARE(QDir(dir.path("out")).entryList(QDir::Files), outputs);
    if (files.first() == QLatin1String("ranges.uxd")) {
        // Each output's title names its scan; the refused one says why.
        QVERIFY(contents(dir.path("out/ranges_03.dbw")).contains("scan 3 of 3"));
        QVERIFY2(batch.table()->item(2, BatchDialog::reason_column)->text().contains("PHI"),
                 qPrintable(batch.table()->item(2, BatchDialog::reason_column)->text()));
    }
    // Unticked again, a row per file as before.
    batch.set_all_scans(false);
    QCOMPARE(batch.table()->rowCount(), files.size());
}

namespace {

// What a batch left: the table's cells, the status, the folder's files and
// the modal dialogs seen.
struct Left {
    QStringList cells;
    QString status;
    QMap<QString, QByteArray> outputs;
    QStringList seen;
};

QStringList made_files(Scratch& dir, int count) {
    QStringList paths;
    for (int k = 0; k < count; ++k)  // every fifth empty: it fails
        paths << dir.write(QStringLiteral("f%1.xy").arg(k, 2, 10, QLatin1Char('0')),
                           k % 5 == 3 ? QByteArray() : QByteArray::number(k) + "\n7\n8\n");
    return paths;
}

Left run_batch(const QStringList& files, const QString& folder, int lanes, bool real) {
    WindowInteraction ui;
    BatchDialog batch(ui);
    Left left;
    batch.add_files(files);
    if (real) {
        batch.set_output_format(FormatId::gsas);
        batch.answer_prompts_with({});
    } else {
        batch.set_conversion_table(kTestTable);
        batch.set_input_format(FormatId::ascii_xy);
        batch.set_output_format(FormatId::ascii_xy);
    }
    batch.set_output_folder(folder);
    batch.set_lanes(lanes);
    ModalScript script;
    script.on("dialog105", [&](QDialog* d) {
        qelda::ui::testing::type_into(d, id::alpha1_box, "0.7093");
        click(d, id::ok);
    });
    QSignalSpy done(&batch, &BatchDialog::batch_finished);
    if (!batch.start() || !done.wait(30000)) return left;
    for (int r = 0; r < batch.table()->rowCount(); ++r)
        for (int c = 0; c < batch.table()->columnCount(); ++c)
            left.cells << batch.table()->item(r, c)->text();
    left.status = batch.status();
    for (const QString& name : QDir(folder).entryList(QDir::Files))
        left.outputs[name] = contents(QDir(folder).filePath(name));
    left.seen = script.seen();
    return left;
}

}  // namespace

void BatchDialogTest::lanes_give_what_one_gives_data() {
    QTest::addColumn<bool>("real");  // the samples, else made files and a prompting codec
    QTest::addColumn<int>("lanes");
    QTest::newRow("made files, 2 lanes") << false << 2;
    QTest::newRow("made files, 5 lanes") << false << 5;
    QTest::newRow("made files, more lanes than files") << false << 40;
    QTest::newRow("samples, 3 lanes") << true << 3;
}

void BatchDialogTest::lanes_give_what_one_gives() {
    QFETCH(bool, real);
    QFETCH(int, lanes);
    Scratch dir;
    QVERIFY(dir.valid());
    QStringList files;
    if (real) {
        const QDir samples(QStringLiteral(QELDA_SAMPLES_DIR));
        for (const char* f : {"uxd/BT86_.UXD", "uxd/sample1.uxd", "udf/ZEOLITE.UDF"}) {
            files << samples.filePath(QString::fromLatin1(f));
            if (!QFileInfo::exists(files.back())) QSKIP("the sample files are absent");
        }
    } else {
        files = made_files(dir, 17);
    }
    QVERIFY(QDir().mkpath(dir.path("one")) && QDir().mkpath(dir.path("many")));
    const Left one = run_batch(files, dir.path("one"), 1, real);
    const Left many = run_batch(files, dir.path("many"), lanes, real);
    QVERIFY(!one.cells.isEmpty());
    // The prompt is asked once, for the first file, however many lanes.
    const QStringList asked = real ? QStringList() : QStringList{"dialog105"};
    QCOMPARE(one.seen, asked);
    QCOMPARE(many.seen, asked);
    QCOMPARE(many.outputs, one.outputs);
    QCOMPARE(many.outputs.size(), real ? 3 : 14);
    // The same rows, but for the folder named in each "written to".
    QStringList cells = many.cells;
    cells.replaceInStrings(dir.path("many"), dir.path("one"));
    QCOMPARE(cells, one.cells);
    QString status = many.status;
    QCOMPARE(status.replace(dir.path("many"), dir.path("one")), one.status);
}

void BatchDialogTest::cancel_in_a_prompt_leaves_outputs_whole_data() {
    QTest::addColumn<int>("lanes");
    QTest::addColumn<bool>("in_prompt");  // the prompt's Cancel, else the batch's
    QTest::newRow("1 lane") << 1 << false;
    QTest::newRow("3 lanes") << 3 << false;
    QTest::newRow("1 lane, the prompt's Cancel") << 1 << true;
    QTest::newRow("3 lanes, the prompt's Cancel") << 3 << true;
}

// Cancel while the first file's prompt is open, the batch's or the prompt's
// own: the files in hand finish or are abandoned, nothing is started after it, and each output is
// whole or absent as its row says.
void BatchDialogTest::cancel_in_a_prompt_leaves_outputs_whole() {
    QFETCH(int, lanes);
    QFETCH(bool, in_prompt);
    Scratch dir;
    QVERIFY(dir.valid());
    QVERIFY(QDir().mkpath(dir.path("out")));
    const QStringList files = made_files(dir, 9);
    Batch b;
    b.dialog.add_files(files);
    b.dialog.set_input_format(FormatId::ascii_xy);
    b.dialog.set_output_format(FormatId::ascii_xy);
    b.dialog.set_output_folder(dir.path("out"));
    b.dialog.set_lanes(lanes);
    ModalScript script;
    bool responsive = false;
    script.on("dialog105", [&](QDialog* d) {
        // The window answers while the lanes wait for the prompt.
        auto* cancel = b.dialog.findChild<QPushButton*>(QStringLiteral("cancel"));
        responsive = b.dialog.running() && cancel->isEnabled();
        if (in_prompt) {
            d->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
            return;
        }
        cancel->click();
        qelda::ui::testing::type_into(d, id::alpha1_box, "0.7093");
        click(d, id::ok);
    });
    QVERIFY(b.run());
    QVERIFY(responsive);
    QCOMPARE(script.seen(), QStringList{"dialog105"});
    QCOMPARE(b.cell(0, BatchDialog::outcome_column),
             in_prompt ? QStringLiteral("cancelled") : QStringLiteral("converted"));
    QStringList written;
    for (int row = 0; row < files.size(); ++row) {
        const QString name = QStringLiteral("f%1.dat").arg(row, 2, 10, QLatin1Char('0'));
        const QByteArray out = contents(dir.path("out/" + name));
        const QString outcome = b.cell(row, BatchDialog::outcome_column);
        if (row >= lanes) {
            // Never started.
            QCOMPARE(outcome, QStringLiteral("cancelled"));
            QCOMPARE(b.cell(row, BatchDialog::reason_column), QStringLiteral("not converted"));
        }
        if (outcome == QLatin1String("converted")) {
            written << name;
            QVERIFY(out.startsWith(QFileInfo(files[row]).fileName().toLatin1() + ' '));
            QCOMPARE(out.count('\n'), 4);  // the title and three counts
        } else {
            QCOMPARE(out, QByteArray("<absent>"));
        }
    }
    // The prompt's Cancel leaves it unanswered: no file that waits for it goes on.
    if (in_prompt) QCOMPARE(written, QStringList());
    // Nothing else in the folder: no temporary file left behind.
    QCOMPARE(QDir(dir.path("out")).entryList(QDir::Files | QDir::Hidden), written);
    QVERIFY2(
        b.dialog.status().startsWith(QStringLiteral("%1 of 9 files converted").arg(written.size())),
        qPrintable(b.dialog.status()));
    QVERIFY(b.dialog.status().contains(QStringLiteral("; cancelled, ")));
}

// The window closed while files are converted: the lanes stop, each output
// is whole or absent.
void BatchDialogTest::closed_while_converting() {
    Scratch dir;
    QVERIFY(dir.valid());
    QVERIFY(QDir().mkpath(dir.path("out")));
    const QStringList files = made_files(dir, 30);
    {
        WindowInteraction ui;
        BatchDialog batch(ui);
        batch.set_conversion_table(kTestTable);
        batch.add_files(files);
        batch.set_input_format(FormatId::ascii_xy);
        batch.set_output_format(FormatId::ascii_xy);
        batch.set_output_folder(dir.path("out"));
        batch.set_lanes(3);
        batch.answer_prompts_with({});
        QVERIFY(batch.start());
        QCoreApplication::processEvents();  // the lanes start
        QVERIFY(batch.running());
    }
    for (const QString& name : QDir(dir.path("out")).entryList(QDir::Files | QDir::Hidden))
        QVERIFY2(name.endsWith(".dat") && contents(dir.path("out/" + name)).count('\n') == 4,
                 qPrintable(name));
}

QTEST_MAIN(BatchDialogTest)
#include "batch_dialog_test.moc"
