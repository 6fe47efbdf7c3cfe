// Dialogs 102-108 through the window's interaction: the dataset fields, the
// failure and success texts, and the prompts with the core's rules applied.
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "core/display_texts.h"
#include "core/driver.h"
#include "core/prompts.h"
#include "tests/ui/ui_test_support.h"
#include "ui/prompt_dialogs.h"
#include "ui/result_dialogs.h"
#include "ui/window_interaction.h"

using namespace qelda;
using namespace qelda::ui;
using qelda::ui::testing::click;
using qelda::ui::testing::ModalScript;
using qelda::ui::testing::text_of;
using qelda::ui::testing::type_into;

namespace {

// A workspace answered by the window's dialogs.
struct Desk {
    WindowInteraction ui;
    Workspace ws{ui};
    PowderPattern& r() { return ws.record(); }
};

// Runs `ask` while `fill` answers dialog `name` and presses OK.
template <class Ask>
bool answer(const QString& name, const std::function<void(QDialog*)>& fill, Ask&& ask) {
    ModalScript script;
    script.on(name, [&](QDialog* d) {
        fill(d);
        click(d, id::ok);
    });
    ask();
    return script.all_ran() && !script.tripped();
}

bool refused(QDialog* d, int box) {
    return d->findChild<QLineEdit*>(QString::number(box))->property(kRefusedProperty).toBool();
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    void dataset_fields_data();
    void dataset_fields();
    void dataset_dialog_runs_until_ok();
    void failure_text_data();
    void failure_text();
    void success_texts_data();
    void success_texts();
    void wavelength_prompt_data();
    void wavelength_prompt();
    void wavelength_prompt_refuses_what_does_not_read();
    void xy_input_prompt_data();
    void xy_input_prompt();
    void xy_input_prompt_refuses_what_does_not_read();
    void wavelength_refusals_data();
    void wavelength_refusals();
    void ascii_output_prompt_data();
    void ascii_output_prompt();
    void slit_warning_toggles();
};

void DialogsTest::dataset_fields_data() {
    QTest::addColumn<float>("start");
    QTest::addColumn<float>("lambda1");
    QTest::addColumn<float>("ratio");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("shown");  // 1016, 1022, 1024, 1020, 1012 trimmed
    QTest::newRow("plain") << 5.0f << 1.5405f << 0.0f << 512 << "Quartz"
                           << QStringList{"   5.000", "1.54050", "0.00000", "  512", "Quartz"};
    QTest::newRow("too wide") << 10000.0f << 10.0f << 0.5f << 100000 << ""
                              << QStringList{"********", "*******", "0.50000", "100000", ""};
    QTest::newRow("negative") << -1.25f << 0.70930f << 0.497f << 0 << "Mo <b>"
                              << QStringList{"  -1.250", "0.70930", "0.49700", "    0", "Mo <b>"};
}

void DialogsTest::dataset_fields() {
    QFETCH(float, start);
    QFETCH(float, lambda1);
    QFETCH(float, ratio);
    QFETCH(int, count);
    QFETCH(QString, title);
    QFETCH(QStringList, shown);
    auto record = std::make_unique<PowderPattern>();
    record->two_theta_start = start;
    record->two_theta_end = 80.0f;
    record->two_theta_step = 0.02f;
    record->lambda1 = lambda1;
    record->lambda2 = 1.5443f;
    record->alpha_ratio = ratio;
    record->point_count = count;
    record->set_title(title.toStdString());
    const auto d = make_dataset_dialog(*record);
    QVERIFY(d != nullptr);
    QCOMPARE((QStringList{d->text(id::start), d->text(id::lambda1), d->text(id::ratio),
                          d->text(id::steps), d->text(id::title).trimmed()}),
             shown);
    QCOMPARE(d->text(id::title).size(), 60);  // the 60 characters of the title
    QCOMPARE(d->text(id::end), QStringLiteral("  80.000"));
    QCOMPARE(d->text(id::step), QStringLiteral("   0.020"));
    QCOMPARE(d->text(id::lambda2), QStringLiteral("1.54430"));
}

void DialogsTest::dataset_dialog_runs_until_ok() {
    Desk desk;
    desk.r().point_count = 7;
    ModalScript script;
    script.on("dialog102", [&](QDialog* d) {
        QVERIFY(!(d->windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(text_of(d, id::steps), QStringLiteral("    7"));
        click(d, id::ok);
    });
    desk.ui.show_dataset_parameters(desk.r(), {});
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
}

void DialogsTest::failure_text_data() {
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("padded") << QByteArray(fixed_text(kMsgOpenInput, 100).c_str())
                            << "ERROR OPENING INPUT DATA FILE";
    QTest::newRow("read error")
        << QByteArray(fixed_text("ERROR READING INPUT FILE AFTER LINE   12", 100).c_str())
        << "ERROR READING INPUT FILE AFTER LINE   12";
    QTest::newRow("four blanks stay") << QByteArray("A    B     C") << "A    B";
    QTest::newRow("no run of five") << QByteArray("end-of-file during read, unit 1, file a b.dat")
                                    << "end-of-file during read, unit 1, file a b.dat";
}

void DialogsTest::failure_text() {
    QFETCH(QByteArray, message);
    QFETCH(QString, shown);
    Desk desk;
    ModalScript script;
    QString text;
    script.on("dialog103", [&](QDialog* d) {
        text = text_of(d, id::message);
        click(d, id::ok);
    });
    desk.ui.show_failure(message.toStdString(), {});
    QVERIFY(script.all_ran());
    QCOMPARE(text, shown);
}

void DialogsTest::success_texts_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("line");
    QTest::newRow("512") << 512 << "    512 Data converted";
    QTest::newRow("100000") << 100000 << "  100000 Data converted";
}

void DialogsTest::success_texts() {
    QFETCH(int, count);
    QFETCH(QString, line);
    Desk desk;
    desk.r().point_count = count;
    desk.ws.session().input_path = "/data/run 1/scan.uxd";
    desk.ws.session().output_path = "/data/out/scan.gsa";
    ModalScript script;
    QStringList shown;
    script.on("dialog104", [&](QDialog* d) {
        shown << text_of(d, id::count_line) << text_of(d, id::from_name) << text_of(d, id::to_name)
              << text_of(d, 1022) << text_of(d, 1023);
        click(d, id::ok);
    });
    desk.ui.show_success(desk.r(), desk.ws.session(), {});
    QVERIFY(script.all_ran());
    QCOMPARE(shown, (QStringList{line, "scan.uxd", "scan.gsa", "From", "To"}));
}

void DialogsTest::wavelength_prompt_data() {
    QTest::addColumn<QStringList>("typed");  // null: left as it starts
    QTest::addColumn<QList<float>>("fields");
    const QString keep;
    QTest::newRow("unchanged") << QStringList{keep, keep, keep}
                               << QList<float>{1.5405f, 1.5443f, 0.5f};
    QTest::newRow("alpha2 below alpha1")
        << QStringList{keep, "1.0", "0.7"} << QList<float>{1.5405f, 0.0f, 0.0f};
    QTest::newRow("alpha2 equal") << QStringList{"1.5405", "1.5405", "0.3"}
                                  << QList<float>{1.5405f, 1.5405f, 0.3f};
    QTest::newRow("all empty") << QStringList{"", "", ""} << QList<float>{0.0f, 0.0f, 0.0f};
    QTest::newRow("ratio 0 without a point")
        << QStringList{keep, keep, "0"} << QList<float>{1.5405f, 1.5443f, 0.0f};
    QTest::newRow("beyond eight columns")
        << QStringList{"1.7890000xyz", "1.79", keep} << QList<float>{1.789f, 1.79f, 0.5f};
}

void DialogsTest::wavelength_prompt() {
    QFETCH(QStringList, typed);
    QFETCH(QList<float>, fields);
    Desk desk;
    QStringList starts;
    const int boxes[] = {id::alpha1_box, id::alpha2_box, id::ratio_box};
    QVERIFY(answer(
        "dialog105",
        [&](QDialog* d) {
            for (int i = 0; i < 3; ++i) {
                starts << text_of(d, boxes[i]);
                if (!typed[i].isNull()) type_into(d, boxes[i], typed[i]);
            }
        },
        [&] { ask_wavelengths(desk.ws); }));
    QCOMPARE(starts, (QStringList{"1.5405", "1.5443", "0.5"}));
    QCOMPARE(desk.r().lambda1, fields[0]);
    QCOMPARE(desk.r().lambda2, fields[1]);
    QCOMPARE(desk.r().alpha_ratio, fields[2]);
}

void DialogsTest::wavelength_prompt_refuses_what_does_not_read() {
    Desk desk;
    ModalScript script;
    script.on("dialog105", [&](QDialog* d) {
        type_into(d, id::alpha1_box, "1.54O5");  // a letter O
        type_into(d, id::ratio_box, "half");
        click(d, id::ok);
        QVERIFY(d->isVisible());
        QVERIFY(refused(d, id::alpha1_box));
        QVERIFY(!refused(d, id::alpha2_box));
        QVERIFY(refused(d, id::ratio_box));
        QVERIFY(!d->findChild<QLineEdit*>("1029")->toolTip().isEmpty());
        QCOMPARE(d->focusWidget(), d->findChild<QWidget*>("1029"));
        d->close();  // the close box reads the boxes back too
        QVERIFY(d->isVisible());
        type_into(d, id::alpha1_box, "1.5406");
        QVERIFY(!refused(d, id::alpha1_box));  // editing clears the mark
        click(d, id::ok);
        QVERIFY(d->isVisible());  // the ratio still does not read
        type_into(d, id::ratio_box, "0.25");
        click(d, id::ok);
        QVERIFY(!d->isVisible());
    });
    ask_wavelengths(desk.ws);
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
    QCOMPARE(desk.r().lambda1, 1.5406f);
    QCOMPARE(desk.r().lambda2, 1.5443f);
    QCOMPARE(desk.r().alpha_ratio, 0.25f);
}

void DialogsTest::wavelength_refusals_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("digits without a point")
        << int(id::alpha1_box) << "15406"
        << "Type 1.5406: 15406 without a point reads as 0.15406.";
    QTest::newRow("a bare 2") << int(id::alpha2_box) << "2"
                              << "Type 2.0: 2 without a point reads as 0.00002.";
    QTest::newRow("ratio 1") << int(id::ratio_box) << "1"
                             << "Type 1.0: 1 without a point reads as 0.00001.";
    QTest::newRow("negative wavelength") << int(id::alpha1_box) << "-1"
                                         << "A wavelength cannot be negative.";
    QTest::newRow("negative ratio") << int(id::ratio_box) << "-0.5"
                                    << "The intensity ratio cannot be negative.";
}

void DialogsTest::wavelength_refusals() {
    QFETCH(int, box);
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    Desk desk;
    ModalScript script;
    script.on("dialog105", [&](QDialog* d) {
        type_into(d, box, typed);
        click(d, id::ok);
        QVERIFY(d->isVisible());
        QVERIFY(refused(d, box));
        QCOMPARE(d->findChild<QLineEdit*>(QString::number(box))->toolTip(), refusal);
        type_into(d, box, "0.5");
        click(d, id::ok);
        QVERIFY(!d->isVisible());
    });
    ask_wavelengths(desk.ws);
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
}

void DialogsTest::xy_input_prompt_data() {
    QTest::addColumn<QString>("count_time");
    QTest::addColumn<float>("stored");
    QTest::newRow("empty") << "" << 1.0f;
    QTest::newRow("zero") << "0" << 1.0f;
    QTest::newRow("below the floor") << "0.0009" << 1.0f;
    QTest::newRow("at the floor") << "0.001" << 0.001f;
    QTest::newRow("whole seconds") << "12" << 12.0f;
}

void DialogsTest::xy_input_prompt() {
    QFETCH(QString, count_time);
    QFETCH(float, stored);
    Desk desk;
    desk.r().set_title("Left from before");
    QStringList starts;
    bool sigma_ticked = true;
    XyInputChoice choice;
    QVERIFY(answer(
        "dialog106",
        [&](QDialog* d) {
            starts << text_of(d, id::xy_title_box) << text_of(d, id::count_time_box)
                   << text_of(d, id::header_lines_box);
            sigma_ticked = d->findChild<QCheckBox*>("1038")->isChecked();
            // A title pasted with a line break in it.
            d->findChild<QLineEdit*>("1034")->setText("Corundum\nplate");
            if (!count_time.isEmpty()) type_into(d, id::count_time_box, count_time);
            type_into(d, id::header_lines_box, "3");
            click(d, id::read_sigma_box);
        },
        [&] { choice = ask_xy_input(desk.ws, 2); }));  // 2 header lines detected
    QCOMPARE(starts, (QStringList{QStringLiteral("Left from before"), "", "2"}));
    QVERIFY(!sigma_ticked);
    QCOMPARE(desk.r().count_time, stored);
    QCOMPARE(choice.header_lines, 3);
    QVERIFY(choice.read_sigma);
    QCOMPARE(QByteArray::fromStdString(desk.r().title).trimmed(), QByteArray("Corundum plate"));
}

void DialogsTest::xy_input_prompt_refuses_what_does_not_read() {
    Desk desk;
    ModalScript script;
    script.on("dialog106", [&](QDialog* d) {
        type_into(d, id::count_time_box, "1 s");
        type_into(d, id::header_lines_box, "2.5");
        click(d, id::ok);
        QVERIFY(d->isVisible());
        QVERIFY(refused(d, id::count_time_box));
        QVERIFY(refused(d, id::header_lines_box));
        type_into(d, id::count_time_box, "1");
        type_into(d, id::header_lines_box, "2");
        click(d, id::ok);
        QVERIFY(!d->isVisible());
    });
    const XyInputChoice choice = ask_xy_input(desk.ws);
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
    QCOMPARE(desk.r().count_time, 1.0f);
    QCOMPARE(choice.header_lines, 2);
}

void DialogsTest::ascii_output_prompt_data() {
    QTest::addColumn<bool>("untick_title");
    QTest::addColumn<bool>("tick_sigma");
    QTest::addColumn<QByteArray>("title");
    QTest::newRow("ticked, edited") << false << false << QByteArray("New title");
    QTest::newRow("unticked keeps the title") << true << true << QByteArray("Old title");
}

void DialogsTest::ascii_output_prompt() {
    QFETCH(bool, untick_title);
    QFETCH(bool, tick_sigma);
    QFETCH(QByteArray, title);
    Desk desk;
    desk.r().set_title("Old title");
    QStringList starts;
    AsciiOutputChoice choice;
    QVERIFY(answer(
        "dialog108",
        [&](QDialog* d) {
            starts << text_of(d, id::ascii_title_box).trimmed()
                   << (d->findChild<QCheckBox*>("1042")->isChecked() ? "ticked" : "unticked")
                   << (d->findChild<QCheckBox*>("1044")->isChecked() ? "ticked" : "unticked");
            type_into(d, id::ascii_title_box, "New title");
            if (untick_title) click(d, id::write_title_box);
            if (tick_sigma) click(d, id::write_sigma_box);
        },
        [&] { choice = ask_ascii_output(desk.ws); }));
    QCOMPARE(starts, (QStringList{"Old title", "ticked", "unticked"}));
    QCOMPARE(choice.write_title, !untick_title);
    QCOMPARE(choice.write_sigma, tick_sigma);
    QCOMPARE(QByteArray::fromStdString(desk.r().title).trimmed(), title);
    QCOMPARE(desk.r().title.size(), std::size_t{60});
}

void DialogsTest::slit_warning_toggles() {
    Desk desk;
    QStringList warnings;
    bool convert = false;
    QVERIFY(answer(
        "dialog107",
        [&](QDialog* d) {
            warnings << text_of(d, id::slit_warning);
            for (int i = 0; i < 3; ++i) {
                click(d, id::slit_box);
                warnings << text_of(d, id::slit_warning);
            }
        },
        [&] { convert = ask_slit_correction(desk.ws); }));
    const QString warning = QString::fromLatin1(kSlitWarning);
    QCOMPARE(warning.size(), 150);
    QVERIFY(warning.startsWith("Warning: this renormalisation may invalidate the  counting"));
    QCOMPARE(warnings, (QStringList{"", warning, QString(150, ' '), warning}));
    QVERIFY(convert);
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
