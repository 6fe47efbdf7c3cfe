// The dialog templates and the one builder: every template builds, every
// control sits where its dialog units say, and the dialog operations behave
// as the window relies on.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdio>

#include "tests/ui/ui_test_support.h"
#include "ui/dialog_builder.h"
#include "ui/main_dialog.h"

using namespace qelda::ui;

class BuilderTest : public QObject {
    Q_OBJECT

  private slots:
    void captions_data();
    void captions();
    void controls_sit_at_their_dialog_units();
    void dialog_units_round_as_windows_does();
    void a_template_that_cannot_be_built();
    void missing_main_dialog_is_reported_on_the_console();
    void buttons_without_action_end_the_dialog();
    void close_check_keeps_the_dialog_open();
    void statics_show_text_as_it_is();
};

void BuilderTest::captions_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("close_box");
    QTest::newRow("101") << 101 << "QELDA 2.01   Powder Data File Convertor" << true;
    QTest::newRow("102") << 102 << "QELDA 2.01: Dataset parameters" << false;
    QTest::newRow("103") << 103 << "QELDA 2.01: Conversion Failed" << true;
    QTest::newRow("104") << 104 << "QELDA 2.01: Successful Conversion" << true;
    QTest::newRow("105") << 105 << "QELDA 2.01: Wavelength info" << true;
    QTest::newRow("106") << 106 << "QELDA 2.01: X-Y ascii file input" << true;
    QTest::newRow("107") << 107 << "QELDA 2.01: Slit configuration" << true;
    QTest::newRow("108") << 108 << "QELDA 2.01: Format Ascii output file" << true;
}

void BuilderTest::captions() {
    QFETCH(int, id);
    QFETCH(QString, caption);
    QFETCH(bool, close_box);
    const auto d = build_dialog(id);
    QVERIFY(d != nullptr);
    QCOMPARE(d->windowTitle(), caption);
    QCOMPARE(d->objectName(), QStringLiteral("dialog%1").arg(id));
    QCOMPARE(bool(d->windowFlags() & Qt::WindowCloseButtonHint), close_box);
    QCOMPARE(bool(d->windowFlags() & Qt::WindowMinimizeButtonHint), id == 101);
}

void BuilderTest::controls_sit_at_their_dialog_units() {
    for (const DialogTemplate& t : dialog_templates()) {
        const auto d = build_dialog(t.id);
        QVERIFY(d != nullptr);
        const DialogBaseUnits u = d->base_units();
        QVERIFY(u.x > 0 && u.y > 0);
        // As the template says, or wider so that the caption fits.
        const QSize client = u.to_pixels(0, 0, t.cx, t.cy).size();
        QCOMPARE(d->height(), client.height());
        QCOMPARE(d->width(), std::max(client.width(), caption_width(d->windowTitle())));
        for (const ControlTemplate& c : t.controls) {
            if (c.id == kNoId) continue;
            QWidget* w = d->control(c.id);
            QVERIFY2(w != nullptr, qPrintable(QStringLiteral("%1/%2").arg(t.id).arg(c.id)));
            const QRect want = u.to_pixels(c.x, c.y, c.cx, c.cy);
            // A fixed text may grow to keep its end in another font.
            const bool may_grow = !c.text.empty() && (c.kind == ControlKind::static_text ||
                                                      c.kind == ControlKind::check_box);
            if (may_grow && (c.style & kCentered)) {
                QCOMPARE(w->y(), want.y());
                QVERIFY(qAbs(w->geometry().center().x() - want.center().x()) <= 1);
            } else {
                QCOMPARE(w->pos(), want.topLeft());
            }
            if (may_grow)
                QVERIFY(w->width() >= want.width());
            else
                QCOMPARE(w->width(), want.width());
            if (c.kind != ControlKind::drop_down_list) QCOMPARE(w->height(), want.height());
            // ... and is never cut.
            if (auto* label = qobject_cast<QLabel*>(w); label && !c.text.empty()) {
                if (label->wordWrap())
                    QVERIFY(label->heightForWidth(label->width()) <= label->height());
                else
                    QVERIFY(label->sizeHint().width() <= label->width());
            }
            QCOMPARE(w->isEnabled(), !(c.style & kDisabled));
            if (c.kind != ControlKind::drop_down_list)
                QCOMPARE(d->text(c.id), QString::fromLatin1(c.text.data(), c.text.size()));
        }
    }
    // Kinds of a few controls, found by id.
    const auto main = build_dialog(kMainDialog);
    QVERIFY(main->control_as<QComboBox>(id::input_list) != nullptr);
    QVERIFY(main->control_as<QPushButton>(id::convert) != nullptr);
    QVERIFY(!main->control(id::convert)->isEnabled());
    const auto xy = build_dialog(kXyInputPrompt);
    QVERIFY(xy->control_as<QCheckBox>(id::read_sigma_box) != nullptr);
    QVERIFY(xy->control_as<QLineEdit>(id::count_time_box) != nullptr);
    QVERIFY(xy->control_as<QPushButton>(id::ok)->isDefault());
}

void BuilderTest::dialog_units_round_as_windows_does() {
    // Base units 7 x 13: a horizontal unit is 1.75 pixels, a vertical one 1.625.
    const DialogBaseUnits u{7, 13};
    QCOMPARE(u.to_pixels(4, 8, 1, 1), QRect(7, 13, 2, 2));
    QCOMPARE(u.to_pixels(2, 4, 3, 3), QRect(4, 7, 5, 5));  // 3.5 -> 4, 6.5 -> 7, 5.25 -> 5
    QCOMPARE(u.to_pixels(257, 156, 0, 0).topLeft(), QPoint(450, 254));
    // The units come from the average of A-Z and a-z, and the height, of the font.
    const QFont font = template_font(*find_dialog_template(kMainDialog));
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const DialogBaseUnits of = DialogBaseUnits::of(font);
    QVERIFY(qAbs(of.x * 52 - width) <= 52);
    QCOMPARE(of.y, fm.height());
}

void BuilderTest::a_template_that_cannot_be_built() {
    QVERIFY(build_dialog(999) == nullptr);
    static constexpr ControlTemplate kBadIcon[] = {
        {kNoId, ControlKind::icon, "4711", 0, 0, 20, 20}};
    const DialogTemplate bad{200, "bad", 100, 100, "MS Sans Serif", 8, kCloseBox, kBadIcon};
    QVERIFY(build_dialog(bad) == nullptr);
}

void BuilderTest::missing_main_dialog_is_reported_on_the_console() {
    std::FILE* console = std::tmpfile();
    QVERIFY(console != nullptr);
    QCOMPARE(run_program(999, console), 1);
    std::rewind(console);
    char line[64] = {};
    const std::size_t n = std::fread(line, 1, sizeof line - 1, console);
    std::fclose(console);
    QCOMPARE(QByteArray(line, static_cast<int>(n)), QByteArray("Error: dialog not found\n"));
}

void BuilderTest::buttons_without_action_end_the_dialog() {
    const auto d = build_dialog(kMainDialog);
    int reset_pressed = 0;
    d->attach(id::reset, [&] { ++reset_pressed; });
    testing::ModalScript script;
    script.on("dialog101", [&](QDialog* dlg) {
        testing::click(dlg, id::reset);  // has an action: the dialog stays
        QVERIFY(dlg->isVisible());
        testing::click(dlg, id::exit);  // has none: it ends the dialog
    });
    QCOMPARE(d->exec(), id::exit);
    QCOMPARE(reset_pressed, 1);
    QVERIFY(script.all_ran());
    QVERIFY(!script.tripped());
}

void BuilderTest::close_check_keeps_the_dialog_open() {
    const auto d = build_dialog(kFailureDialog);
    int asked = 0;
    d->set_close_check([&] { return ++asked > 2; });
    testing::ModalScript script;
    script.on("dialog103", [&](QDialog* dlg) {
        testing::click(dlg, id::ok);
        QVERIFY(dlg->isVisible());
        dlg->close();  // the close box asks too
        QVERIFY(dlg->isVisible());
        testing::click(dlg, id::ok);
    });
    QCOMPARE(d->exec(), id::ok);
    QCOMPARE(asked, 3);
    QVERIFY(!script.tripped());
}

void BuilderTest::statics_show_text_as_it_is() {
    const auto d = build_dialog(kDatasetDialog);
    d->set_text(id::title, QStringLiteral("<b>Si</b> & co"));
    auto* label = d->control_as<QLabel>(id::title);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(label->text(), QStringLiteral("<b>Si</b> & co"));
}

QTEST_MAIN(BuilderTest)
#include "builder_test.moc"
