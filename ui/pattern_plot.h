// The pattern of a dataset drawn as intensity against 2theta: a line series
// thinned to the screen, zoom by dragging a rectangle, reset by double-click,
// and a logarithmic intensity scale on demand that keeps the zoom. Ticks fall
// on round values (1, 2 or 5 times a power of ten) at every zoom.
#pragma once

#include <QChartView>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

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

    QLineSeries* series() const noexcept { return series_; }
    // Points the series holds now, and the points of the scan.
    int drawn_points() const;
    int pattern_points() const noexcept { return static_cast<int>(y_.size()); }

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Fills the series with the thinned points of the visible 2theta range.
    void redraw();
    void set_ticks(double lo, double hi);
    void set_y_ticks();
    double x_of(std::size_t i) const noexcept { return start_ + step_ * static_cast<double>(i); }

    QLineSeries* series_ = nullptr;
    QValueAxis* x_axis_ = nullptr;
    QValueAxis* y_linear_ = nullptr;
    QLogValueAxis* y_log_ = nullptr;
    std::vector<float> y_;
    double start_ = 0;
    double step_ = 0;
    float y_min_ = 0;
    float y_max_ = 0;
    float smallest_positive_ = 1;
    bool log_ = false;
    bool redrawing_ = false;
    bool zoomed_ = false;  // the range is not the whole scan
};

}  // namespace qelda::ui
