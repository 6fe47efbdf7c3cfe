#include "ui/scan_chooser.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "core/driver.h"
#include "core/pattern_options.h"
#include "ui/dialog_builder.h"
#include "ui/qt_text.h"

namespace qelda::ui {
namespace {

// Time given to descriptions in one turn of the event loop, milliseconds.
constexpr int kDescribeSlice = 30;

// A number as short as it reads: up to three decimals, no trailing zeros.
QString short_number(double v) {
    QString text = QString::number(v, 'f', 3);
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString scan_heading(int32_t n, int32_t count) {
    return QStringLiteral("Scan %1 of %2").arg(n).arg(count);
}

// What a read of one scan left: its axis, range, points and temperature.
QString description(const Workspace& ws) {
    const PowderPattern& r = ws.record();
    QStringList parts;
    QString range;
    if (!ws.scan.axis.empty()) range = from_bytes(ws.scan.axis) + QLatin1Char(' ');
    const double start = r.two_theta_start;
    const double end = !angles_stated(r)
                           ? start + static_cast<double>(r.two_theta_step) * (r.point_count - 1)
                           : r.angles.back();
    if (std::isfinite(start) && std::isfinite(end))
        range += QStringLiteral("%1\u2013%2\u00b0").arg(short_number(start), short_number(end));
    parts << range.trimmed();
    parts
        << QStringLiteral("%1 %2").arg(r.point_count).arg(r.point_count == 1 ? "point" : "points");
    if (ws.scan.temperature && std::isfinite(*ws.scan.temperature))
        parts << QStringLiteral("%1 K").arg(short_number(*ws.scan.temperature));
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

}  // namespace

ScanList::ScanList(ScanSource source)
    : source_(std::move(source)),
      entries_(static_cast<std::size_t>(std::max(source_.count, 0))),
      ws_(std::make_unique<Workspace>(quiet_)) {
    for (int32_t n = 1; n <= source_.count; ++n)
        entries_[static_cast<std::size_t>(n - 1)].text = scan_heading(n, source_.count);
}

ScanList::~ScanList() = default;

const ScanEntry& ScanList::entry(int32_t n) const {
    return entries_.at(static_cast<std::size_t>(n - 1));
}

const ScanEntry& ScanList::describe(int32_t n) {
    ScanEntry& e = entries_.at(static_cast<std::size_t>(n - 1));
    if (e.described) return e;
    e.described = true;
    const FormatInfo* reader = nullptr;
    for (const FormatInfo& f : source_.table)
        if (f.id == source_.format) reader = &f;
    Workspace& ws = *ws_;
    auto read = [&](bool any_axis) {
        ws.clear_diagnostics();
        ws.options = source_.options;
        ws.options.scan = n;
        ws.options.all_scans = false;
        ws.options.any_axis = any_axis || source_.options.any_axis;
        ws.record().max_points = kPointCapacity;
        if (reader == nullptr) {
            ws.failure_reason = "the format cannot be read";
            return ConversionStatus::not_available;
        }
        if (ws.input().open(source_.path) != Outcome::done) {
            ws.failure_reason = source_.path + ": " + ws.input().problem();
            return ConversionStatus::record_error;
        }
        ConversionStatus s = reader->codec(ws, CodecMode::read);
        if (s == ConversionStatus::done) s = check_read(ws);
        ws.input().close();
        return s;
    };
    const QString heading = scan_heading(n, source_.count);
    ConversionStatus s = read(false);
    if (s == ConversionStatus::done && ws.scan.number > 0 && ws.scan.number != n) {
        // Asked for the first scan, the reader took the first 2theta scan.
        e.refusal = QStringLiteral(
                        "%1: scan %2 is not a 2theta scan; only 2theta scans can be "
                        "converted")
                        .arg(from_path(file_name_part(source_.path)))
                        .arg(n);
        s = read(true);
    } else if (s != ConversionStatus::done) {
        e.refusal = from_path(failure_reason_for(ws, s, false));
        if (e.refusal.isEmpty())
            e.refusal = from_path(trim_right(failure_message_for(ws, s, false)));
        if (!ws.scan.axis_refused) {
            e.text = heading + QStringLiteral(": cannot be read");
            return e;
        }
        s = read(true);
    }
    if (s != ConversionStatus::done) {
        e.text = heading + QStringLiteral(": not 2\u03b8");
        return e;
    }
    e.text = heading + QStringLiteral(": ") + description(ws);
    if (!e.refusal.isEmpty()) e.text += QStringLiteral(" (not 2\u03b8)");
    return e;
}

int32_t ScanList::next_undescribed() const {
    const int32_t last = std::min(source_.count, kDescribedScans);
    for (int32_t n = 1; n <= last; ++n)
        if (!entries_[static_cast<std::size_t>(n - 1)].described) return n;
    return 0;
}

QComboBox* add_scan_chooser(TemplateDialog& d, ScanList& scans, int32_t current,
                            std::function<void(int32_t)> chosen) {
    const DialogBaseUnits u = d.base_units();
    int bottom = 0;
    for (const QWidget* w : d.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        bottom = std::max(bottom, w->geometry().bottom());
    const int top = bottom + u.to_pixels(0, 0, 0, 4).height();
    auto* label = new QLabel(QStringLiteral("S&can:"), &d);
    label->setObjectName(QStringLiteral("scan_label"));
    auto* box = new QComboBox(&d);
    box->setObjectName(QStringLiteral("scan"));
    label->setBuddy(box);
    const QRect field = u.to_pixels(30, 0, 151, 14);
    const QRect label_box = u.to_pixels(5, 0, 24, 14);
    box->setGeometry(field.x(), top, field.width(), field.height());
    label->setGeometry(label_box.x(), top, label_box.width(), field.height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    d.setFixedHeight(top + field.height() + u.to_pixels(0, 0, 0, 6).height());

    // The popup is as wide as its longest entry.
    auto widest = std::make_shared<int>(0);
    auto show_entry = [box, &scans, widest](int32_t n) {
        const ScanEntry& e = scans.entry(n);
        box->setItemText(n - 1, e.text);
        box->setItemData(n - 1, e.refusal.isEmpty() ? e.text : e.refusal, Qt::ToolTipRole);
        *widest = std::max(*widest, box->fontMetrics().horizontalAdvance(e.text));
    };
    for (int32_t n = 1; n <= scans.count(); ++n) box->addItem(scans.entry(n).text, n);
    for (int32_t n = 1; n <= scans.count(); ++n) show_entry(n);
    box->setCurrentIndex(std::clamp(current, 1, std::max(scans.count(), 1)) - 1);
    auto fit_popup = [box, widest] {
        box->view()->setMinimumWidth(*widest + box->fontMetrics().averageCharWidth() * 4);
        box->setToolTip(box->currentText());
    };
    fit_popup();

    // The descriptions, a slice of time per turn of the event loop.
    auto* timer = new QTimer(box);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, box, [timer, &scans, show_entry, fit_popup] {
        QElapsedTimer clock;
        clock.start();
        while (const int32_t n = scans.next_undescribed()) {
            scans.describe(n);
            show_entry(n);
            if (clock.elapsed() >= kDescribeSlice) break;
        }
        fit_popup();
        if (scans.next_undescribed() == 0) timer->stop();
    });
    if (scans.next_undescribed() != 0) timer->start();

    QObject::connect(
        box, &QComboBox::activated, &d,
        [box, &d, &scans, current, show_entry, fit_popup, chosen = std::move(chosen)](int index) {
            const int32_t n = box->itemData(index).toInt();
            if (n == current || n < 1) return;
            const ScanEntry& e = scans.describe(n);
            show_entry(n);
            if (e.refusal.isEmpty()) {
                chosen(n);
                return;
            }
            box->setCurrentIndex(current - 1);
            fit_popup();
            QMessageBox refused(
                QMessageBox::Warning, d.windowTitle(),
                QStringLiteral("%1 cannot be converted.").arg(scan_heading(n, scans.count())),
                QMessageBox::Ok, &d);
            refused.setObjectName(QStringLiteral("scan_refused"));
            refused.setInformativeText(e.refusal);
            refused.exec();
        });
    return box;
}

}  // namespace qelda::ui
