// At a scale factor of 2 on a 1600x1000 screen (800x500 of Qt's logical
// pixels) the dataset dialog fits the screen, frame included, shows every
// control of its template, and can be made smaller.
#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include "tests/ui/ui_test_support.h"
#include "ui/pattern_plot.h"
#include "ui/result_dialogs.h"

using namespace qelda;
using namespace qelda::ui;

class ScaleTest : public QObject {
    Q_OBJECT

  private slots:
    void dataset_dialog_fits_data();
    void dataset_dialog_fits();
};

void ScaleTest::dataset_dialog_fits_data() {
    QTest::addColumn<int>("warnings");
    QTest::newRow("no warnings") << 0;
    QTest::newRow("three warnings") << 3;
}

void ScaleTest::dataset_dialog_fits() {
    QFETCH(int, warnings);
    QScreen* screen = QGuiApplication::primaryScreen();
    QCOMPARE(screen->geometry().size(), QSize(800, 500));
    PowderPattern r;
    r.point_count = 3000;
    r.two_theta_start = 10.0f;
    r.two_theta_step = 0.02f;
    r.two_theta_end = 69.98f;
    r.lambda1 = 1.5405f;
    for (int i = 1; i <= r.point_count; ++i) r.intensity(i) = static_cast<float>(100 + i % 50);
    r.set_title("Quartz reference, long count");
    std::vector<std::string> notes;
    for (int i = 0; i < warnings; ++i)
        notes.push_back("scan.brml holds 3 scans; scan 1 converted, and a long explanation");
    const auto d = make_dataset_dialog(r, notes, nullptr, "/data/scan.brml");
    QVERIFY(d != nullptr);
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    const QRect avail = screen->availableGeometry();
    const QRect frame = d->frameGeometry();
    QVERIFY2(frame.width() <= avail.width(), qPrintable(QString::number(frame.width())));
    QVERIFY2(frame.height() <= avail.height(), qPrintable(QString::number(frame.height())));
    // Every control inside the dialog, the plot among them.
    for (const QWidget* w : d->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(d->rect().contains(w->geometry()), qPrintable(w->objectName()));
    auto* plot = d->findChild<PatternPlot*>();
    QVERIFY(plot != nullptr && plot->width() >= 150);
    // Smaller than at first: the plot gives way.
    QVERIFY(d->minimumWidth() < d->width());
    const int before = plot->width();
    d->resize(d->minimumWidth(), d->height());
    QCoreApplication::processEvents();
    QVERIFY(plot->width() < before);
    QVERIFY(d->rect().contains(plot->geometry()));
}

int main(int argc, char** argv) {
    // One screen of 1600x1000 device pixels, shown at twice the size.
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    QFile f(config);
    if (!f.open(QIODevice::WriteOnly)) return 1;
    f.write(R"({"screens": [{"name": "big", "x": 0, "y": 0, "width": 1600, "height": 1000,
                "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    f.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    ScaleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "scale_test.moc"
