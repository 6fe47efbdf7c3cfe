// The pattern plot of the dataset dialog: thinning that keeps every peak, the
// record's points in the series, zoom and its reset, the logarithmic scale,
// the x axis in 2theta, d or Q.
#include <QCheckBox>
#include <QComboBox>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QStandardItemModel>
#include <QTest>
#include <QValueAxis>

#include "core/workspace.h"
#include "ui/pattern_plot.h"
#include "ui/result_dialogs.h"

using namespace qelda;
using namespace qelda::ui;

namespace {

PatternPlot* plot_of(QDialog* d) {
    return d->findChild<PatternPlot*>(QStringLiteral("plot"));
}

QValueAxis* x_axis(PatternPlot* plot) {
    return qobject_cast<QValueAxis*>(plot->chart()->axes(Qt::Horizontal).value(0));
}

}  // namespace

class PlotTest : public QObject {
    Q_OBJECT

  private slots:
    void a_one_point_spike_survives_thinning_data();
    void a_one_point_spike_survives_thinning();
    void the_plot_gets_the_records_points();
    void zoom_log_scale_and_reset();
    void the_x_axis_shows_two_theta_d_or_q_data();
    void the_x_axis_shows_two_theta_d_or_q();
};

void PlotTest::a_one_point_spike_survives_thinning_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("spike");  // -1: none
    QTest::addColumn<int>("columns");
    QTest::newRow("first") << 100000 << 0 << 500;
    QTest::newRow("second") << 100000 << 1 << 500;
    QTest::newRow("middle") << 100000 << 54321 << 640;
    QTest::newRow("last") << 100000 << 99999 << 333;
    QTest::newRow("few points are all kept") << 1000 << 10 << 500;
}

void PlotTest::a_one_point_spike_survives_thinning() {
    QFETCH(int, points);
    QFETCH(int, spike);
    QFETCH(int, columns);
    std::vector<float> values(static_cast<std::size_t>(points));
    for (int i = 0; i < points; ++i) values[i] = 100.0f + static_cast<float>(i % 7);
    values[spike] = 5000.0f;
    const std::vector<int32_t> kept = thin_for_columns(values, columns);
    QVERIFY(std::find(kept.begin(), kept.end(), spike) != kept.end());
    QVERIFY(std::is_sorted(kept.begin(), kept.end()));
    QVERIFY(std::adjacent_find(kept.begin(), kept.end()) == kept.end());
    QCOMPARE(kept.front(), 0);
    QCOMPARE(kept.back(), points - 1);
    if (points <= 2 * columns)
        QCOMPARE(int(kept.size()), points);
    else
        QVERIFY(int(kept.size()) <= 2 * columns + 2);
}

void PlotTest::the_plot_gets_the_records_points() {
    ScriptedInteraction none;
    Workspace ws(none);
    PowderPattern& r = ws.record();
    r.point_count = 4;
    r.two_theta_start = 10.0f;
    r.two_theta_step = 0.5f;
    const float counts[] = {7, 0, 120, 3};
    for (int i = 0; i < 4; ++i) r.intensity(i + 1) = counts[i];
    const auto d = make_dataset_dialog(r);
    PatternPlot* plot = plot_of(d.get());
    QVERIFY(plot != nullptr);
    const QList<QPointF> points = plot->series()->points();
    QCOMPARE(points.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(points[i].x(), 10.0 + 0.5 * i);
        QCOMPARE(points[i].y(), double(counts[i]));
    }
    QCOMPARE(x_axis(plot)->titleText(), QString::fromUtf8("2θ (°)"));
    // Angles off one even grid are drawn where the file states them.
    r.angles = {10.0, 10.25, 11.0, 13.5};
    const auto uneven = make_dataset_dialog(r);
    const QList<QPointF> stated = plot_of(uneven.get())->series()->points();
    QCOMPARE(stated.size(), 4);
    for (int i = 0; i < 4; ++i) QCOMPARE(stated[i].x(), r.angles[static_cast<std::size_t>(i)]);
    QCOMPARE(x_axis(plot_of(uneven.get()))->max(), 13.5);
}

void PlotTest::zoom_log_scale_and_reset() {
    ScriptedInteraction none;
    Workspace ws(none);
    PowderPattern& r = ws.record();
    r.point_count = kPointCapacity;
    r.two_theta_start = 5.0f;
    r.two_theta_step = 0.001f;
    for (int i = 1; i <= r.point_count; ++i) r.intensity(i) = static_cast<float>(i % 50);
    r.intensity(77777) = 1e6f;  // a peak one point wide
    const auto d = make_dataset_dialog(r);
    d->show();
    PatternPlot* plot = plot_of(d.get());
    auto max_y = [&] {
        double m = 0;
        for (const QPointF& p : plot->series()->points()) m = std::max(m, p.y());
        return m;
    };
    QVERIFY(plot->drawn_points() < 5000);
    QCOMPARE(max_y(), 1e6);
    // Zoomed into 2theta 20-20.1: every point of the range is drawn.
    x_axis(plot)->setRange(20.0, 20.1);
    const QList<QPointF> zoomed = plot->series()->points();
    QVERIFY(zoomed.size() >= 100 && zoomed.size() <= 104);
    QVERIFY(zoomed.front().x() <= 20.0 && zoomed.back().x() >= 20.1);
    QVERIFY(max_y() < 1e6);
    // The log scale draws points at 0 at the smallest count, on a log axis.
    d->findChild<QCheckBox*>(QStringLiteral("log_scale"))->click();
    QVERIFY(qobject_cast<QLogValueAxis*>(plot->chart()->axes(Qt::Vertical).value(0)) != nullptr);
    for (const QPointF& p : plot->series()->points()) QVERIFY(p.y() >= 1.0);
    // A double-click shows the whole scan again.
    QTest::mouseDClick(plot->viewport(), Qt::LeftButton);
    QCOMPARE(x_axis(plot)->min(), 5.0);
    QVERIFY(qAbs(x_axis(plot)->max() - (5.0 + 0.001 * 99999)) < 1e-3);
    QCOMPARE(max_y(), 1e6);
}

void PlotTest::the_x_axis_shows_two_theta_d_or_q_data() {
    QTest::addColumn<float>("lambda1");
    QTest::addColumn<int>("entry");  // of the chooser: 2theta, d, Q
    QTest::addColumn<QString>("title");
    QTest::addColumn<QList<double>>("x");  // of 2theta 30, 60 and 90
    const QString two_theta = QString::fromUtf8("2θ (°)");
    QTest::newRow("2theta") << 1.5406f << 0 << two_theta << QList<double>{30, 60, 90};
    QTest::newRow("d") << 1.5406f << 1 << QString::fromUtf8("d (Å)")
                       << QList<double>{2.9762107, 1.5406, 1.0893687};
    QTest::newRow("Q") << 1.5406f << 2 << QString::fromUtf8("Q (Å⁻¹)")
                       << QList<double>{2.1111359, 4.0784015, 5.7677307};
    // Without a wavelength d and Q cannot be chosen: 2theta stays.
    QTest::newRow("no lambda1, d refused") << 0.0f << 1 << two_theta << QList<double>{30, 60, 90};
    QTest::newRow("negative lambda1, Q refused")
        << -1.0f << 2 << two_theta << QList<double>{30, 60, 90};
}

void PlotTest::the_x_axis_shows_two_theta_d_or_q() {
    QFETCH(float, lambda1);
    QFETCH(int, entry);
    QFETCH(QString, title);
    QFETCH(QList<double>, x);
    ScriptedInteraction none;
    Workspace ws(none);
    PowderPattern& r = ws.record();
    r.point_count = 3;
    r.two_theta_start = 30.0f;
    r.two_theta_step = 30.0f;
    r.lambda1 = lambda1;
    for (int i = 1; i <= 3; ++i) r.intensity(i) = static_cast<float>(100 * i);
    const auto d = make_dataset_dialog(r);
    auto* chooser = d->findChild<QComboBox*>(QStringLiteral("x_axis"));
    QVERIFY(chooser != nullptr);
    QCOMPARE(chooser->currentIndex(), 0);
    const auto* model = qobject_cast<const QStandardItemModel*>(chooser->model());
    const bool usable = model->item(entry)->isEnabled();
    QCOMPARE(usable, lambda1 > 0);
    if (!usable) QVERIFY(chooser->toolTip().contains(QStringLiteral("wavelength")));
    chooser->setCurrentIndex(entry);
    PatternPlot* plot = plot_of(d.get());
    QCOMPARE(x_axis(plot)->titleText(), title);
    const QList<QPointF> points = plot->series()->points();
    QCOMPARE(points.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(qAbs(points[i].x() - x[i]) < 1e-5 * x[i],
                 qPrintable(QString::number(points[i].x())));
        QCOMPARE(points[i].y(), 100.0 * (i + 1));
        QVERIFY(points[i].x() >= x_axis(plot)->min() && points[i].x() <= x_axis(plot)->max());
    }
}

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
