// The pattern of a dataset drawn as intensity against 2theta, or against d or
// Q from the wavelength lambda1: a line series thinned to the screen, zoom by
// dragging a rectangle, reset by double-click, and a logarithmic intensity
// scale on demand that keeps the zoom. Ticks fall on round values (1, 2 or 5
// times a power of ten) at every zoom.
#pragma once

#include <QChartView>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

#include "core/axis.h"
#include "core/powder_pattern.h"

class QLineSeries;
class QValueAxis;
class QLogValueAxis;

namespace qelda::ui {

// The points of `values` worth drawing in `columns` pixel columns: the first
// and last point, and in each column the minimum and the maximum in their
// order, so that a peak one point wide is never lost. All of them when there
// are no more than two per column. Indices from 0, ascending.
std::vector<int32_t> thin_for_columns(std::span<const float> values, int columns);

class PatternPlot : public QChartView {
    Q_OBJECT

  public:
    explicit PatternPlot(QWidget* parent = nullptr);

    // Copies the pattern's angles and intensities and draws the whole scan.
    void set_pattern(const PowderPattern& record);
    // The heading above the plot (the file name and the title).
    void set_caption(const QString& caption);
    // Intensity on a logarithmic scale (points at or below 0 are drawn at the
    // smallest positive intensity).
    void set_log_scale(bool on);
    bool log_scale() const noexcept { return log_; }
    // Back to the whole scan.
    void reset_zoom();
    // The x axis: 2theta (the default), d or Q. d and Q need a positive
    // lambda1; without one they are refused (false) and 2theta stays.
    bool set_axis(Axis axis);
    Axis axis() const noexcept { return axis_; }
    bool axis_available(Axis axis) const noexcept;
    // Why d and Q cannot be shown, or empty when they can.
    QString axis_refusal() const;

    QLineSeries* series() const noexcept { return series_; }
    // Points the series holds now, and the points of the scan.
    int drawn_points() const;
    int pattern_points() const noexcept { return static_cast<int>(y_.size()); }

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Fills the series with the thinned points of the visible x range.
    void redraw();
    void set_ticks(double lo, double hi);
    void set_y_ticks();
    // The x of every point on the axis shown, and their least and greatest.
    void place_points();

    QLineSeries* series_ = nullptr;
    QValueAxis* x_axis_ = nullptr;
    QValueAxis* y_linear_ = nullptr;
    QLogValueAxis* y_log_ = nullptr;
    std::vector<float> y_;
    std::vector<double> two_theta_;  // of every point, degrees
    std::vector<double> x_;          // of every point on the axis shown
    double x_lo_ = 0;
    double x_hi_ = 0;
    double lambda_ = 0;
    Axis axis_ = Axis::two_theta;
    float y_min_ = 0;
    float y_max_ = 0;
    float smallest_positive_ = 1;
    bool log_ = false;
    bool redrawing_ = false;
    bool zoomed_ = false;  // the range is not the whole scan
};

}  // namespace qelda::ui
