// The scan chooser of the dataset dialog: each scan of a file described by
// its axis, range and temperature; another scan chosen is the one converted,
// written as the command line's --range writes it; a scan that is not 2theta
// refused with its reason. Real multi-scan samples where present, and a UXD
// file of three ranges built here.
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>

#include "core/codec_guard.h"
#include "core/driver.h"
#include "core/prompts.h"
#include "core/record_io.h"
#include "formats/registry.h"
#include "tests/ui/ui_test_support.h"
#include "ui/main_dialog.h"
#include "ui/qt_text.h"
#include "ui/scan_chooser.h"

using namespace qelda;
using namespace qelda::ui;
using qelda::ui::testing::choose_file;
using qelda::ui::testing::click;
using qelda::ui::testing::ModalScript;
using qelda::ui::testing::Scratch;

namespace {

// Two 2theta ranges around a phi scan; the temperatures of ranges 1 and 3.
const QByteArray kThreeRanges =
    "_WL1=1.5406\r\n_WL2=1.54439\r\n_WLRATIO=0.5\r\n"
    "_DRIVE='COUPLED'\r\n_STEPTIME=1\r\n_STEPSIZE=0.02\r\n_START=10.0\r\n"
    "_V4_TEMPERATURE=300\r\n_STEPCOUNT=3\r\n_COUNTS\r\n 10 20 30\r\n"
    "_DRIVE='PHI'\r\n_STEPTIME=1\r\n_STEPSIZE=5.0\r\n_START=0.0\r\n_STEPCOUNT=3\r\n_COUNTS\r\n"
    " 1 2 3\r\n"
    "_DRIVE='COUPLED'\r\n_STEPTIME=1\r\n_STEPSIZE=0.05\r\n_START=20.0\r\n"
    "_V4_TEMPERATURE=350.5\r\n_STEPCOUNT=4\r\n_COUNTS\r\n 5 6 7 8\r\n";

// The input of a row: "built" is the three ranges above, else a sample.
QString input_of(const QString& file, const Scratch& dir) {
    if (file == QLatin1String("built")) return dir.write("ranges.uxd", kThreeRanges);
    const QString path = QStringLiteral(QELDA_SAMPLES_DIR "/") + file;
    return QFile::exists(path) ? path : QString();
}

QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

// What the command line writes of scan `scan` (--range), as the oracle.
QByteArray converted_alone(const QString& input, FormatId format, int scan, const QString& out) {
    ScriptedInteraction quiet;
    Workspace ws(quiet);
    ws.options.scan = scan;
    ConversionSession& s = ws.session();
    s.input_path = to_path(input);
    s.output_path = to_path(out);
    if (ws.input().open(s.input_path) != Outcome::done ||
        ws.output().open(s.output_path, false) != Outcome::done)
        return "<not opened>";
    s.input_ready = s.output_ready = true;
    if (!run_conversion(ws, format, FormatId::siemens_uxd).succeeded()) return "<failed>";
    return contents(out);
}

// A file of three scans that states no wavelength: the reader asks for it.
// Scan N is two points from 10N degrees; the writer writes the start and the
// wavelength.
ConversionStatus asking_scans_codec(Workspace& ws, CodecMode mode) noexcept {
    return guard_codec(ws, [&] {
        static const Layout kOut("(2F10.4)");
        PowderPattern& r = ws.record();
        if (mode == CodecMode::write) {
            write_record(ws.output(), kOut, {r.two_theta_start, r.lambda1});
            return ConversionStatus::done;
        }
        ask_wavelengths(ws);
        const int32_t n = std::max(ws.options.scan, 1);
        ws.scan.count = 3;
        ws.scan.number = n;
        r.point_count = 2;
        r.intensity(1) = r.intensity(2) = 5.0f;
        r.two_theta_start = 10.0f * static_cast<float>(n);
        r.two_theta_step = 1.0f;
        r.two_theta_end = r.two_theta_start + 1.0f;
        return ConversionStatus::done;
    });
}

const FormatInfo kAskingTable[] = {
    {FormatId::ascii_xy, "Ascii x-y", "DAT", "", "", "xy", asking_scans_codec, true, true, true},
};

}  // namespace

class ScanChooserTest : public QObject {
    Q_OBJECT

  private slots:
    void each_scan_is_described_data();
    void each_scan_is_described();
    void the_chosen_scan_is_converted_data();
    void the_chosen_scan_is_converted();
    void a_file_of_one_scan_has_no_chooser();
    void the_prompts_are_not_asked_again_for_another_scan();
};

void ScanChooserTest::each_scan_is_described_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("scan");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("refused");
    QTest::newRow("built, 2theta") << "built" << 1
                                   << QString::fromUtf8(
                                          "Scan 1 of 3: COUPLED 10–10.04°, 3 points, "
                                          "300 K")
                                   << false;
    QTest::newRow("built, phi") << "built" << 2
                                << QString::fromUtf8("Scan 2 of 3: PHI 0–10°, 3 points (not 2θ)")
                                << true;
    QTest::newRow("built, last") << "built" << 3
                                 << QString::fromUtf8(
                                        "Scan 3 of 3: COUPLED 20–20.15°, 4 points, "
                                        "350.5 K")
                                 << false;
    QTest::newRow("Temperature.uxd, range 22")
        << "multi_scan/Temperature.uxd" << 22
        << QString::fromUtf8("Scan 22 of 22: COUPLED 61.5–66.5°, 501 points, 373.15 K") << false;
    QTest::newRow("Temperature.brml, scan 1")
        << "multi_scan/Temperature.brml" << 1 << QString::fromUtf8("Scan 1 of 22: ") << false;
    QTest::newRow("Sin2Psi.brml, scan 18")
        << "multi_scan/Sin2Psi.brml" << 18 << QString::fromUtf8("Scan 18 of 18: ") << false;
}

void ScanChooserTest::each_scan_is_described() {
    QFETCH(QString, file);
    QFETCH(int, scan);
    QFETCH(QString, text);
    QFETCH(bool, refused);
    Scratch dir;
    const QString input = input_of(file, dir);
    if (input.isEmpty()) QSKIP("sample absent");
    const FormatId format = preselected_format(to_path(input), Direction::input);
    // The count as the reader tells it.
    ScriptedInteraction quiet;
    Workspace ws(quiet);
    ws.options.any_axis = true;
    ws.record().max_points = kPointCapacity;
    QCOMPARE(ws.input().open(to_path(input)), Outcome::done);
    QCOMPARE(find_format(format)->codec(ws, CodecMode::read), ConversionStatus::done);
    ScanList scans({to_path(input), format, formats(), ReadOptions{}, ws.scan.count});
    QVERIFY(scans.count() >= scan);
    const ScanEntry& e = scans.describe(scan);
    // A prefix for the samples, whose other scans are checked by their readers' tests.
    QVERIFY2(text.endsWith(QLatin1String(": ")) ? e.text.startsWith(text) : e.text == text,
             qPrintable(e.text));
    QCOMPARE(!e.refusal.isEmpty(), refused);
    if (refused) QVERIFY2(e.refusal.contains(QLatin1String("PHI")), qPrintable(e.refusal));
}

void ScanChooserTest::the_chosen_scan_is_converted_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("written");  // the scan in the output
    QTest::newRow("built, range 3") << "built" << 3 << 3 << 3;
    QTest::newRow("built, the phi range is refused") << "built" << 3 << 2 << 1;
    QTest::newRow("Temperature.uxd, range 22") << "multi_scan/Temperature.uxd" << 22 << 22 << 22;
    QTest::newRow("Temperature.brml, scan 7") << "multi_scan/Temperature.brml" << 22 << 7 << 7;
}

void ScanChooserTest::the_chosen_scan_is_converted() {
    QFETCH(QString, file);
    QFETCH(int, count);
    QFETCH(int, chosen);
    QFETCH(int, written);
    Scratch dir;
    QVERIFY(dir.valid());
    const QString input = input_of(file, dir);
    if (input.isEmpty()) QSKIP("sample absent");
    const QString out = dir.path("out.uxd");
    WindowInteraction ui;
    Workspace ws(ui);
    MainDialog main(ws, ui);
    QVERIFY(main.build());
    main.dialog()->show();
    main.drop_input(to_path(input));
    {
        ModalScript script;
        script.on(kOutputChooserName,
                  [&](QDialog* d) { choose_file(qobject_cast<QFileDialog*>(d), out); });
        click(main.dialog(), id::output_select);
        QVERIFY(script.all_ran());
    }
    QVERIFY(main.dialog()->control(id::convert)->isEnabled());

    ModalScript script;
    QStringList refusal;
    int shown_scan = 0;
    script.on("dialog102", [&](QDialog* d) {
        auto* box = d->findChild<QComboBox*>(QStringLiteral("scan"));
        QVERIFY(box != nullptr);
        QCOMPARE(box->count(), count);
        QCOMPARE(box->currentIndex(), 0);
        // Every scan described while the dialog is open.
        QTRY_VERIFY(box->itemText(count - 1).contains(QLatin1Char(':')));
        box->setCurrentIndex(chosen - 1);
        emit box->activated(chosen - 1);
        if (chosen != written) {
            // Refused: the dialog stays, on the scan it showed.
            QCOMPARE(box->currentIndex(), 0);
            click(d, id::ok);
        }
    });
    if (chosen != written) {
        script.on("scan_refused", [&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            refusal << box->text() << box->informativeText();
            d->accept();
        });
    } else {
        script.on("dialog102", [&](QDialog* d) {
            shown_scan = d->findChild<QComboBox*>(QStringLiteral("scan"))->currentIndex() + 1;
            click(d, id::ok);
        });
    }
    script.on("dialog104", [&](QDialog* d) { click(d, id::ok); });
    click(main.dialog(), id::convert);
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
    if (chosen != written) {
        QCOMPARE(refusal.value(0),
                 QStringLiteral("Scan %1 of %2 cannot be converted.").arg(chosen).arg(count));
        QVERIFY2(refusal.value(1).contains(QLatin1String("not 2theta")),
                 qPrintable(refusal.value(1)));
    } else {
        QCOMPARE(shown_scan, chosen);
    }
    const QByteArray expected =
        converted_alone(input, preselected_format(to_path(input), Direction::input), written,
                        dir.path("alone.uxd"));
    QCOMPARE(contents(out), expected);
    // The next conversion starts from the first scan again.
    QCOMPARE(ws.options.scan, 1);
    QVERIFY(!ws.session().input_ready);
}

void ScanChooserTest::a_file_of_one_scan_has_no_chooser() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QByteArray one = kThreeRanges.left(kThreeRanges.indexOf("_DRIVE='PHI'"));
    const QString input = dir.write("one.uxd", one);
    WindowInteraction ui;
    Workspace ws(ui);
    MainDialog main(ws, ui);
    QVERIFY(main.build());
    main.drop_input(to_path(input));
    {
        ModalScript script;
        script.on(kOutputChooserName, [&](QDialog* d) {
            choose_file(qobject_cast<QFileDialog*>(d), dir.path("out.uxd"));
        });
        click(main.dialog(), id::output_select);
    }
    ModalScript script;
    bool chooser = true;
    script.on("dialog102", [&](QDialog* d) {
        chooser = d->findChild<QComboBox*>(QStringLiteral("scan")) != nullptr;
        click(d, id::ok);
    });
    script.on("dialog104", [&](QDialog* d) { click(d, id::ok); });
    click(main.dialog(), id::convert);
    QVERIFY(script.all_ran());
    QVERIFY(!chooser);
}

void ScanChooserTest::the_prompts_are_not_asked_again_for_another_scan() {
    Scratch dir;
    QVERIFY(dir.valid());
    const QString input = dir.write("series.dat", "three scans\n");
    const QString out = dir.path("res.dat");
    WindowInteraction ui;
    Workspace ws(ui);
    MainDialog main(ws, ui);
    QVERIFY(main.build());
    main.set_conversion_table(kAskingTable);
    main.drop_input(to_path(input));
    {
        ModalScript script;
        script.on(kOutputChooserName,
                  [&](QDialog* d) { choose_file(qobject_cast<QFileDialog*>(d), out); });
        click(main.dialog(), id::output_select);
    }
    ModalScript script;
    script.on("dialog105", [&](QDialog* d) {
        qelda::ui::testing::type_into(d, id::alpha1_box, "0.7093");
        click(d, id::ok);
    });
    script.on("dialog102", [&](QDialog* d) {
        auto* box = d->findChild<QComboBox*>(QStringLiteral("scan"));
        QVERIFY(box != nullptr);
        box->setCurrentIndex(2);
        emit box->activated(2);
    });
    script.on("dialog102", [&](QDialog* d) { click(d, id::ok); });
    script.on("dialog104", [&](QDialog* d) { click(d, id::ok); });
    click(main.dialog(), id::convert);
    QVERIFY(script.all_ran());
    QCOMPARE(script.seen(), (QStringList{"dialog105", "dialog102", "dialog102", "dialog104"}));
    // Scan 3, at the wavelength typed for scan 1.
    QCOMPARE(contents(out), QByteArray("   30.0000    0.7093\r\n"));
}

QTEST_MAIN(ScanChooserTest)
#include "scan_chooser_test.moc"
