#include "ui/result_dialogs.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <vector>

#include "core/display_texts.h"
#include "ui/pattern_plot.h"
#include "ui/qt_text.h"

namespace qelda::ui {
namespace {

// Moves and stretches the added controls when the user resizes a dialog: each
// keeps its place against the corner it hangs from.
class Stretcher : public QObject {
  public:
    struct Piece {
        QWidget* widget;
        QRect base;
        bool grow_x, grow_y, move_y;
    };
    Stretcher(QWidget* dialog, std::vector<Piece> pieces)
        : QObject(dialog), base_(dialog->size()), pieces_(std::move(pieces)) {
        dialog->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            const QSize now = static_cast<QWidget*>(watched)->size();
            const int dx = std::max(0, now.width() - base_.width());
            const int dy = std::max(0, now.height() - base_.height());
            for (const Piece& p : pieces_) {
                QRect r = p.base;
                if (p.move_y) r.translate(0, dy);
                if (p.grow_x) r.setWidth(r.width() + dx);
                if (p.grow_y) r.setHeight(r.height() + dy);
                p.widget->setGeometry(r);
            }
        }
        return false;
    }

  private:
    QSize base_;
    std::vector<Piece> pieces_;
};

// The plot beside the template's controls, with its scale toggle below it.
PatternPlot* add_plot_beside(TemplateDialog& d, const PowderPattern& record) {
    const int margin = d.base_units().x * 2;
    const int left = d.width();
    constexpr int kPlotWidth = 520;
    const int height = std::max(d.height(), d.base_units().y * 22);
    auto* log_box = new QCheckBox(QStringLiteral("Logarithmic intensity"), &d);
    log_box->setObjectName(QStringLiteral("log_scale"));
    const int box_height = log_box->sizeHint().height();
    auto* plot = new PatternPlot(&d);
    plot->setGeometry(left, margin / 2, kPlotWidth, height - box_height - margin);
    log_box->setGeometry(left + margin, height - box_height - margin / 2,
                         log_box->sizeHint().width(), box_height);
    QObject::connect(log_box, &QCheckBox::toggled, plot, &PatternPlot::set_log_scale);
    plot->set_pattern(record);
    d.setFixedSize(left + kPlotWidth + margin / 2, height);
    return plot;
}

}  // namespace

void add_note_below(TemplateDialog& dialog, const QString& object_name, const QString& text) {
    const int margin = dialog.base_units().x * 2;
    int bottom = 0;
    for (const QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        bottom = std::max(bottom, w->geometry().bottom());
    auto* note = new QLabel(text, &dialog);
    note->setObjectName(object_name);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const int width = dialog.width() - 2 * margin;
    note->setFixedWidth(width);
    const int height = note->heightForWidth(width);
    note->setGeometry(margin, bottom + margin, width, height);
    dialog.setFixedHeight(bottom + 2 * margin + height);
}

void show_file_name(TemplateDialog& dialog, int id, const std::string& path) {
    QWidget* field = dialog.control(id);
    if (field == nullptr) return;
    const QString name = from_path(file_name_part(path));
    int room = field->contentsRect().width();
    if (auto* label = qobject_cast<QLabel*>(field))
        room -= 2 * label->margin() + std::max(0, label->indent()) + 2;
    dialog.set_text(id, field->fontMetrics().elidedText(name, Qt::ElideMiddle, std::max(room, 1)));
    field->setToolTip(from_path(path));
}

std::unique_ptr<TemplateDialog> make_dataset_dialog(const PowderPattern& record,
                                                    std::span<const std::string> warnings,
                                                    QWidget* parent) {
    auto d = build_dialog(kDatasetDialog, parent);
    if (!d) return d;
    const DatasetTexts t = dataset_texts(record);
    d->set_text(id::title, from_bytes(t.title));
    d->set_text(id::start, from_bytes(t.two_theta_start));
    d->set_text(id::end, from_bytes(t.two_theta_end));
    d->set_text(id::step, from_bytes(t.two_theta_step));
    d->set_text(id::lambda1, from_bytes(t.lambda1));
    d->set_text(id::lambda2, from_bytes(t.lambda2));
    d->set_text(id::ratio, from_bytes(t.alpha_ratio));
    d->set_text(id::steps, from_bytes(t.point_count));
    PatternPlot* plot = add_plot_beside(*d, record);
    QWidget* note = nullptr;
    if (!warnings.empty()) {
        QStringList lines;
        for (const auto& w : warnings) lines << QStringLiteral("\u26a0 ") + from_path(w);
        add_note_below(*d, QStringLiteral("warnings"), lines.join(QLatin1Char('\n')));
        note = d->findChild<QWidget*>(QStringLiteral("warnings"));
        note->setStyleSheet(QStringLiteral("QLabel { color: #8a4b00; }"));
    }
    // The dialog may be made larger: the plot takes the room.
    std::vector<Stretcher::Piece> pieces{{plot, plot->geometry(), true, true, false}};
    auto* log_box = d->findChild<QWidget*>(QStringLiteral("log_scale"));
    pieces.push_back({log_box, log_box->geometry(), false, false, true});
    if (note != nullptr) pieces.push_back({note, note->geometry(), true, false, true});
    d->setMinimumSize(d->size());
    d->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (note != nullptr) note->setMaximumWidth(QWIDGETSIZE_MAX);
    new Stretcher(d.get(), std::move(pieces));
    return d;
}

std::unique_ptr<TemplateDialog> make_failure_dialog(std::string_view failure_message,
                                                    std::string_view reason, QWidget* parent) {
    auto d = build_dialog(kFailureDialog, parent);
    if (!d) return d;
    // Reports of aborted statements may quote a file name.
    d->set_text(id::message, from_path(displayed_failure(failure_message)));
    if (!reason.empty()) add_note_below(*d, QStringLiteral("reason"), from_path(reason));
    return d;
}

std::unique_ptr<TemplateDialog> make_success_dialog(const PowderPattern& record,
                                                    const ConversionSession& session,
                                                    QWidget* parent,
                                                    std::span<const std::string> warnings) {
    auto d = build_dialog(kSuccessDialog, parent);
    if (!d) return d;
    d->set_text(id::count_line, from_bytes(success_count_text(record.point_count)));
    show_file_name(*d, id::from_name, session.input_path);
    show_file_name(*d, id::to_name, session.output_path);
    if (!warnings.empty()) {
        QStringList lines;
        for (const auto& w : warnings) lines << QStringLiteral("\u26a0 ") + from_path(w);
        add_note_below(*d, QStringLiteral("warnings"), lines.join(QLatin1Char('\n')));
        d->findChild<QWidget*>(QStringLiteral("warnings"))
            ->setStyleSheet(QStringLiteral("QLabel { color: #8a4b00; }"));
    }
    return d;
}

}  // namespace qelda::ui
