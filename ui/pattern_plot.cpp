#include "ui/pattern_plot.h"

#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace qelda::ui {
namespace {

// A round spacing (1, 2 or 5 times a power of ten) that cuts `span` into
// about `parts` parts.
double round_interval(double span, double parts) {
    const double rough = span / parts;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double f = rough / power;
    return (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * power;
}

// The decimals a label needs to show values spaced `interval` apart.
QString label_format(double interval) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(interval) + 1e-9)));
    return QStringLiteral("%.") + QString::number(decimals) + QLatin1Char('f');
}

}  // namespace

std::vector<int32_t> thin_for_columns(std::span<const float> values, int columns) {
    const auto n = static_cast<int64_t>(values.size());
    std::vector<int32_t> kept;
    if (n == 0) return kept;
    const int64_t c = std::max(columns, 1);
    if (n <= 2 * c) {
        kept.resize(static_cast<std::size_t>(n));
        for (int64_t i = 0; i < n; ++i) kept[static_cast<std::size_t>(i)] = static_cast<int32_t>(i);
        return kept;
    }
    kept.reserve(static_cast<std::size_t>(2 * c + 2));
    kept.push_back(0);
    for (int64_t k = 0; k < c; ++k) {
        const int64_t begin = k * n / c;
        const int64_t end = (k + 1) * n / c;
        int64_t lo = begin;
        int64_t hi = begin;
        for (int64_t i = begin + 1; i < end; ++i) {
            if (values[static_cast<std::size_t>(i)] < values[static_cast<std::size_t>(lo)]) lo = i;
            if (values[static_cast<std::size_t>(i)] > values[static_cast<std::size_t>(hi)]) hi = i;
        }
        for (const int64_t i : {std::min(lo, hi), std::max(lo, hi)})
            if (i > kept.back()) kept.push_back(static_cast<int32_t>(i));
    }
    if (kept.back() != n - 1) kept.push_back(static_cast<int32_t>(n - 1));
    return kept;
}

// The view owns the chart given to its constructor (a chart set later would
// leave the first one behind).
PatternPlot::PatternPlot(QWidget* parent) : QChartView(new QChart(), parent) {
    setObjectName(QStringLiteral("plot"));
    QChart* chart = this->chart();
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::RectangleRubberBand);

    series_ = new QLineSeries();
    series_->setUseOpenGL(false);
    QPen pen(QColor(0, 70, 160));
    pen.setWidthF(1.0);
    series_->setPen(pen);
    chart->addSeries(series_);

    x_axis_ = new QValueAxis();
    x_axis_->setLabelFormat(QStringLiteral("%g"));
    y_linear_ = new QValueAxis();
    y_linear_->setLabelFormat(QStringLiteral("%.0f"));
    y_log_ = new QLogValueAxis(this);
    y_log_->setLabelFormat(QStringLiteral("%g"));
    y_log_->setBase(10.0);
    // Between the decades, ticks at 2, 3, ... 9 times the decade.
    y_log_->setMinorTickCount(8);
    for (QAbstractAxis* a :
         {static_cast<QAbstractAxis*>(y_linear_), static_cast<QAbstractAxis*>(y_log_)})
        a->setTitleText(QStringLiteral("Intensity (counts)"));
    chart->addAxis(x_axis_, Qt::AlignBottom);
    chart->addAxis(y_linear_, Qt::AlignLeft);
    series_->attachAxis(x_axis_);
    series_->attachAxis(y_linear_);
    // A zoom moves the x range: the points of the new range are thinned afresh.
    connect(x_axis_, &QValueAxis::rangeChanged, this, [this] { redraw(); });
    // Round intensities at every zoom.
    connect(y_linear_, &QValueAxis::rangeChanged, this, [this] { set_y_ticks(); });
    place_points();
}

void PatternPlot::set_caption(const QString& caption) {
    QFont font = this->font();
    font.setBold(true);
    chart()->setTitleFont(font);
    chart()->setTitle(caption);
}

void PatternPlot::set_y_ticks() {
    const double span = y_linear_->max() - y_linear_->min();
    if (!(span > 0) || !std::isfinite(span)) return;
    const double interval = round_interval(span, 5);
    y_linear_->setTickType(QValueAxis::TicksDynamic);
    y_linear_->setTickAnchor(0.0);
    y_linear_->setTickInterval(interval);
    y_linear_->setLabelFormat(label_format(interval));
}

void PatternPlot::set_pattern(const PowderPattern& record) {
    const int32_t n = std::clamp(record.point_count, 0, kPointCapacity);
    y_.assign(record.intensity.data(), record.intensity.data() + n);
    double start = record.two_theta_start;
    double step = record.two_theta_step;
    if (!std::isfinite(start)) start = 0;
    if (!std::isfinite(step) || n < 2) step = 0;
    two_theta_.resize(y_.size());
    // Angles stated off one even grid are drawn where they stand.
    if (record.angles.size() == two_theta_.size())
        two_theta_ = record.angles;
    else
        for (std::size_t i = 0; i < two_theta_.size(); ++i)
            two_theta_[i] = start + step * static_cast<double>(i);
    lambda_ = std::isfinite(record.lambda1) ? record.lambda1 : 0.0;
    if (!axis_available(axis_)) axis_ = Axis::two_theta;
    y_min_ = 0;
    y_max_ = 1;
    smallest_positive_ = 0;
    bool first = true;
    for (const float v : y_) {
        if (!std::isfinite(v)) continue;
        if (first) y_min_ = y_max_ = v;
        first = false;
        y_min_ = std::min(y_min_, v);
        y_max_ = std::max(y_max_, v);
        if (v > 0 && (smallest_positive_ == 0 || v < smallest_positive_)) smallest_positive_ = v;
    }
    if (smallest_positive_ == 0) smallest_positive_ = 1;
    place_points();
    reset_zoom();
}

bool PatternPlot::axis_available(Axis axis) const noexcept {
    return axis == Axis::two_theta || lambda_ > 0;
}

QString PatternPlot::axis_refusal() const {
    if (axis_available(Axis::d)) return {};
    return QStringLiteral(
               "d and Q need the wavelength \u03bb1, and this dataset states none "
               "(\u03bb1 is %1)")
        .arg(lambda_);
}

bool PatternPlot::set_axis(Axis axis) {
    if (!axis_available(axis)) return false;
    if (axis == axis_) return true;
    axis_ = axis;
    place_points();
    reset_zoom();
    return true;
}

void PatternPlot::place_points() {
    switch (axis_) {
        case Axis::d:
            x_axis_->setTitleText(QString::fromUtf8("d (\u00c5)"));
            break;
        case Axis::q:
            x_axis_->setTitleText(QString::fromUtf8("Q (\u00c5\u207b\u00b9)"));
            break;
        default:
            x_axis_->setTitleText(QString::fromUtf8("2\u03b8 (\u00b0)"));
    }
    x_.resize(two_theta_.size());
    x_lo_ = 0;
    x_hi_ = 0;
    bool first = true;
    for (std::size_t i = 0; i < x_.size(); ++i) {
        // d of 2theta = 0 is infinite: that point is not drawn.
        const double x = axis_value(axis_, two_theta_[i], lambda_);
        x_[i] = x;
        if (!std::isfinite(x)) continue;
        x_lo_ = first ? x : std::min(x_lo_, x);
        x_hi_ = first ? x : std::max(x_hi_, x);
        first = false;
    }
}

void PatternPlot::set_log_scale(bool on) {
    if (on == log_) return;
    // The zoom stays: the same x range, and the same intensities as far
    // as the new scale can show them.
    const double x_lo = x_axis_->min();
    const double x_hi = x_axis_->max();
    const double y_lo = on ? y_linear_->min() : y_log_->min();
    const double y_hi = on ? y_linear_->max() : y_log_->max();
    const bool zoomed = zoomed_ || chart()->isZoomed();
    log_ = on;
    QChart* c = chart();
    QAbstractAxis* from = on ? static_cast<QAbstractAxis*>(y_linear_) : y_log_;
    QAbstractAxis* to = on ? static_cast<QAbstractAxis*>(y_log_) : y_linear_;
    series_->detachAxis(from);
    c->removeAxis(from);
    from->setParent(this);
    c->addAxis(to, Qt::AlignLeft);
    series_->attachAxis(to);
    if (!zoomed) {
        reset_zoom();
        return;
    }
    if (on) {
        const double lo = std::max(y_lo, static_cast<double>(smallest_positive_) * 0.8);
        y_log_->setRange(lo, std::max(y_hi, lo * 10));
    } else {
        y_linear_->setRange(y_lo, y_hi);
    }
    x_axis_->setRange(x_lo, x_hi);
    zoomed_ = true;
    redraw();
}

void PatternPlot::reset_zoom() {
    chart()->zoomReset();
    zoomed_ = false;
    double lo = x_lo_;
    double hi = x_hi_;
    if (hi <= lo) {
        lo -= 1;
        hi += 1;
    }
    if (log_) {
        y_log_->setRange(smallest_positive_ * 0.8, std::max(y_max_, smallest_positive_) * 1.5);
    } else {
        const double span = std::max(1e-6f, y_max_ - y_min_);
        y_linear_->setRange(y_min_ >= 0 ? 0.0 : y_min_ - 0.02 * span, y_max_ + 0.05 * span);
        y_linear_->applyNiceNumbers();
    }
    set_ticks(lo, hi);
    // Setting the range redraws through rangeChanged; the same range does not.
    if (x_axis_->min() == lo && x_axis_->max() == hi)
        redraw();
    else
        x_axis_->setRange(lo, hi);
}

int PatternPlot::drawn_points() const {
    return static_cast<int>(series_->count());
}

void PatternPlot::set_ticks(double lo, double hi) {
    // 2theta ticks at round angles (1, 2 or 5 times a power of ten), labelled
    // with as many decimals as the spacing needs. Set before a range grows, so
    // that the axis never lays out thousands of ticks of a smaller range.
    const double span = hi - lo;
    if (!(span > 0) || !std::isfinite(span)) return;
    const double interval = round_interval(span, 6);
    x_axis_->setTickType(QValueAxis::TicksDynamic);
    x_axis_->setTickAnchor(std::floor(lo / interval) * interval);
    x_axis_->setTickInterval(interval);
    x_axis_->setLabelFormat(label_format(interval));
}

void PatternPlot::redraw() {
    if (redrawing_) return;
    redrawing_ = true;
    set_ticks(x_axis_->min(), x_axis_->max());
    // The points inside the visible range, and one beyond each side so that
    // the line runs to the edges: every point of a segment that reaches into
    // the range, whatever the order of the points.
    const double lo = x_axis_->min();
    const double hi = x_axis_->max();
    std::size_t first = 0;
    std::size_t end = y_.size();
    if (x_.size() > 1) {
        std::size_t a = x_.size();
        std::size_t b = 0;
        for (std::size_t i = 0; i + 1 < x_.size(); ++i) {
            const double u = std::min(x_[i], x_[i + 1]);
            const double v = std::max(x_[i], x_[i + 1]);
            if (!(u <= hi && v >= lo)) continue;
            a = std::min(a, i);
            b = i + 2;
        }
        first = a < x_.size() ? a : 0;
        end = a < x_.size() ? b : 0;
    }
    const int columns = std::max(100, static_cast<int>(chart()->plotArea().width()));
    const std::span<const float> visible(y_.data() + first, end - first);
    QList<QPointF> points;
    const std::vector<int32_t> kept = thin_for_columns(visible, columns);
    points.reserve(static_cast<qsizetype>(kept.size()));
    for (const int32_t k : kept) {
        const std::size_t i = first + static_cast<std::size_t>(k);
        float v = y_[i];
        if (!std::isfinite(v) || !std::isfinite(x_[i])) continue;
        if (log_) v = std::max(v, smallest_positive_);
        points.append(QPointF(x_[i], v));
    }
    series_->replace(points);
    redrawing_ = false;
}

void PatternPlot::mouseDoubleClickEvent(QMouseEvent* event) {
    reset_zoom();
    event->accept();
}

void PatternPlot::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    redraw();
}

}  // namespace qelda::ui
