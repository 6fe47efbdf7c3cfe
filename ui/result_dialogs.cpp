#include "ui/result_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <vector>

#include "core/axis.h"
#include "core/display_texts.h"
#include "core/driver.h"
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
            // Smaller than at first too, down to the dialog's minimum size.
            const QSize now = static_cast<QWidget*>(watched)->size();
            const int dx = now.width() - base_.width();
            const int dy = now.height() - base_.height();
            for (const Piece& p : pieces_) {
                QRect r = p.base;
                if (p.move_y) r.translate(0, dy);
                if (p.grow_x) r.setWidth(std::max(1, r.width() + dx));
                if (p.grow_y) r.setHeight(std::max(1, r.height() + dy));
                p.widget->setGeometry(r);
            }
        }
        return false;
    }

  private:
    QSize base_;
    std::vector<Piece> pieces_;
};

// Room a window manager's frame takes around a window, pixels.
constexpr int kFrameAllowance = 16;
// The plot's width at first, and the least it is given.
constexpr int kPlotWidth = 520;
constexpr int kLeastPlotWidth = 180;

QRect available_screen(const QWidget* parent) {
    QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

// The x axis chooser of a plot: 2theta, d or Q; d and Q are offered only with
// a wavelength, and say why not without one.
QComboBox* add_axis_chooser(TemplateDialog& d, PatternPlot* plot) {
    auto* box = new QComboBox(&d);
    box->setObjectName(QStringLiteral("x_axis"));
    box->addItem(QStringLiteral("2\u03b8 (\u00b0)"), static_cast<int>(Axis::two_theta));
    box->addItem(QStringLiteral("d (\u00c5)"), static_cast<int>(Axis::d));
    box->addItem(QStringLiteral("Q (\u00c5\u207b\u00b9)"), static_cast<int>(Axis::q));
    box->setToolTip(QStringLiteral("The x axis of the plot"));
    const QString refusal = plot->axis_refusal();
    if (!refusal.isEmpty()) {
        auto* model = qobject_cast<QStandardItemModel*>(box->model());
        for (const int row : {1, 2}) {
            model->item(row)->setEnabled(false);
            model->item(row)->setToolTip(refusal);
        }
        box->setToolTip(refusal);
    }
    QObject::connect(box, &QComboBox::currentIndexChanged, plot, [box, plot](int index) {
        if (!plot->set_axis(static_cast<Axis>(box->itemData(index).toInt())))
            box->setCurrentIndex(0);
    });
    return box;
}

// The plot beside the template's controls, with its scale toggle and its
// axis chooser below it, as wide as the screen allows.
PatternPlot* add_plot_beside(TemplateDialog& d, const PowderPattern& record, const QString& caption,
                             const QWidget* parent) {
    const int margin = d.base_units().x * 2;
    const int left = d.width();
    const int room = available_screen(parent).width() - kFrameAllowance - left - margin / 2;
    const int plot_width = std::clamp(room, kLeastPlotWidth, kPlotWidth);
    const int height = std::max(d.height(), d.base_units().y * 22);
    auto* log_box = new QCheckBox(QStringLiteral("&Logarithmic intensity"), &d);
    log_box->setObjectName(QStringLiteral("log_scale"));
    const int box_height = log_box->sizeHint().height();
    auto* plot = new PatternPlot(&d);
    plot->setGeometry(left, margin / 2, plot_width, height - box_height - margin);
    log_box->setGeometry(left + margin, height - box_height - margin / 2,
                         log_box->sizeHint().width(), box_height);
    QObject::connect(log_box, &QCheckBox::toggled, plot, &PatternPlot::set_log_scale);
    plot->set_caption(caption);
    plot->set_pattern(record);
    QComboBox* axis_box = add_axis_chooser(d, plot);
    const QSize axis_size = axis_box->sizeHint();
    axis_box->setGeometry(log_box->geometry().right() + margin,
                          height - margin / 2 - (box_height + axis_size.height()) / 2,
                          axis_size.width(), axis_size.height());
    d.setFixedSize(std::max(left + plot_width, axis_box->geometry().right()) + margin / 2, height);
    return plot;
}

// Puts a word-wrapped, selectable text at `top` (pixels) across the dialog,
// moving every control at or below `top` down to make room.
QLabel* insert_note(TemplateDialog& dialog, const QString& object_name, const QString& text,
                    int top, int left, bool bold = false) {
    const int margin = dialog.base_units().x * 2;
    auto* note = new QLabel(text, &dialog);
    if (bold) {
        QFont font = note->font();
        font.setBold(true);
        note->setFont(font);
    }
    note->setObjectName(object_name);
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    note->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    const int width = dialog.width() - left - margin;
    const int height = note->heightForWidth(width);
    const int shift = height + margin / 2;
    for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != note && w->geometry().top() >= top) w->move(w->x(), w->y() + shift);
    note->setGeometry(left, top, width, height);
    dialog.setFixedHeight(dialog.height() + shift);
    return note;
}

// Widens a fixed-size dialog by `dx` pixels: the controls right of `from` move
// right by all of it, push buttons by half (they stay centred).
void widen(TemplateDialog& dialog, int dx, int from) {
    if (dx <= 0) return;
    for (QWidget* w : dialog.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QPushButton*>(w) != nullptr)
            w->move(w->x() + dx / 2, w->y());
        else if (w->x() >= from)
            w->move(w->x() + dx, w->y());
    }
    dialog.setFixedWidth(dialog.width() + dx);
}

// A unit beside a field of the dataset dialog.
void add_unit(TemplateDialog& d, int field, const QString& unit) {
    const QWidget* w = d.control(field);
    if (w == nullptr) return;
    auto* label = new QLabel(unit, &d);
    label->setObjectName(QStringLiteral("unit%1").arg(field));
    const QRect g = w->geometry();
    label->setGeometry(g.right() + 3, g.top(), label->sizeHint().width(), g.height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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

void name_file_above(TemplateDialog& dialog, const std::string& path) {
    const int margin = dialog.base_units().x * 2;
    QLabel* note =
        insert_note(dialog, QStringLiteral("file"),
                    QStringLiteral("File: ") + from_path(file_name_part(path)), 0, margin, true);
    note->setToolTip(from_path(path));
    note->move(note->x(), margin / 2);
}

std::unique_ptr<TemplateDialog> make_dataset_dialog(
    const PowderPattern& record, std::span<const std::string> warnings, QWidget* parent,
    const std::string& file, const std::function<void(TemplateDialog&)>& add_below) {
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
    // The units of the fields: degrees of 2theta, wavelengths in Angstrom.
    for (const int field : {id::start, id::end, id::step})
        add_unit(*d, field, QStringLiteral("\u00b0"));
    add_unit(*d, id::lambda2, QStringLiteral("\u00c5"));
    // Cancel beside OK: the conversion stops before anything is written.
    d->add_cancel(65, 115, 50, 14);
    if (add_below) add_below(*d);
    QString caption = from_path(file_name_part(file));
    const QString title = from_bytes(trim_right(record.title)).trimmed();
    if (!title.isEmpty())
        caption += (caption.isEmpty() ? QString() : QStringLiteral(" \u2014 ")) + title;
    PatternPlot* plot = add_plot_beside(*d, record, caption, parent);
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
    auto* axis_box = d->findChild<QWidget*>(QStringLiteral("x_axis"));
    pieces.push_back({axis_box, axis_box->geometry(), false, false, true});
    if (note != nullptr) pieces.push_back({note, note->geometry(), true, false, true});
    // Smaller too, down to the template's controls beside a narrow plot.
    // The scale toggle and the axis chooser stay whole.
    const int least_width =
        std::max(plot->x() + kLeastPlotWidth / 2, axis_box->geometry().right() + d->base_units().x);
    d->setMinimumSize(std::min(d->width(), least_width), d->height());
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
    const std::string_view headline = displayed_failure(failure_message);
    d->set_text(id::message, from_path(headline));
    if (reason.empty()) return d;
    QWidget* message = d->control(id::message);
    const QRect m = message->geometry();
    // A long reason widens the dialog, up to a comfortable line length.
    const QFontMetrics fm(d->font());
    const int wanted =
        std::min(fm.horizontalAdvance(from_path(reason)) + 8, fm.averageCharWidth() * 72);
    widen(*d, wanted - m.width(), d->control(id::ok)->geometry().right());
    message->setFixedWidth(std::max(m.width(), wanted));
    // "THIS DATA FORMAT NOT YET AVAILABLE" is said of every file a reader
    // refuses: the reason, which tells why, is read first.
    const bool reason_first = headline == kMsgNotAvailable;
    // The headline takes the lines it needs, the reason follows it at once.
    auto* message_label = static_cast<QLabel*>(message);
    message->setFixedHeight(
        std::max(message_label->heightForWidth(message->width()), message->fontMetrics().height()));
    const int top = reason_first ? m.top() : message->geometry().bottom() + 4;
    QLabel* note =
        insert_note(*d, QStringLiteral("reason"), from_path(reason), top, m.left(), reason_first);
    note->setFixedWidth(message->width());
    return d;
}

std::unique_ptr<TemplateDialog> make_success_dialog(const PowderPattern& record,
                                                    const ConversionSession& session,
                                                    QWidget* parent,
                                                    std::span<const std::string> warnings) {
    auto d = build_dialog(kSuccessDialog, parent);
    if (!d) return d;
    d->set_text(id::count_line, from_bytes(success_count_text(record.point_count)));
    // Wide enough for the output's full path, within most of the screen.
    const int margin = d->base_units().x * 2;
    const QString full =
        QDir::cleanPath(QFileInfo(from_path(session.output_path)).absoluteFilePath());
    const QString saved = QStringLiteral("Saved as ") + full;
    const int left = d->control(1023)->x();
    const int need = left + d->fontMetrics().horizontalAdvance(saved) + margin + 8;
    const int most = available_screen(parent).width() * 4 / 5;
    widen(*d, std::min(need, most) - d->width(), d->width());
    // The name fields take the width of the dialog.
    for (const int field : {id::from_name, id::to_name}) {
        QWidget* w = d->control(field);
        w->setFixedWidth(std::max(w->width(), d->width() - w->x() - margin));
    }
    show_file_name(*d, id::from_name, session.input_path);
    show_file_name(*d, id::to_name, session.output_path);
    // Where the output is, in full.
    const QWidget* to = d->control(id::to_name);
    QLabel* note = insert_note(*d, QStringLiteral("output_path"), saved,
                               to->geometry().bottom() + margin / 2, left);
    note->setToolTip(full);
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
