// The pattern plot of the dataset dialog: thinning that keeps every peak, the
// record's points in the series, zoom and its reset, the logarithmic scale.
#include <QCheckBox>
#include <QLineSeries>
#include <QLogValueAxis>
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

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
