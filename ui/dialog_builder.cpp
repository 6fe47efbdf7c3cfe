#include "ui/dialog_builder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcutEvent>
#include <QStyle>
#include <charconv>
#include <optional>

namespace qelda::ui {
namespace {

// a * b / c rounded half away from zero, as Windows' MulDiv does.
int mul_div(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

// The standard icons that stand for the icon resources.
std::optional<QStyle::StandardPixmap> icon_resource(std::string_view text) {
    int number = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), number);
    if (res.ec != std::errc{} || res.ptr != text.data() + text.size()) return std::nullopt;
    switch (number) {
        case 110:  // the program
            return QStyle::SP_ComputerIcon;
        case 113:  // a text file being written
            return QStyle::SP_FileIcon;
        case 114:  // done
            return QStyle::SP_DialogApplyButton;
        case 115:  // the dataset
            return QStyle::SP_FileDialogInfoView;
        case 116:  // failed
            return QStyle::SP_MessageBoxCritical;
        case 133:  // a scan
            return QStyle::SP_FileDialogContentsView;
        case 139:  // a question
            return QStyle::SP_MessageBoxQuestion;
        default:
            return std::nullopt;
    }
}

QString qstr(std::string_view s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// The layouts were drawn for a font this system may not have, and the letters
// of another font are not in the same proportion to their average width. A
// fixed text that would lose its end keeps it: a one-line text or a check
// box label grows to the width of its text, a text of several lines takes a
// slightly smaller size of the font (down to three quarters of it).
QRect fit_fixed_text(QWidget* w, QRect box) {
    const bool one_line = box.height() < 2 * w->fontMetrics().height();
    auto* label = qobject_cast<QLabel*>(w);
    if (label != nullptr && !one_line) {
        QFont font = label->font();
        const qreal smallest = font.pointSizeF() * 0.75;
        while (label->heightForWidth(box.width()) > box.height() &&
               font.pointSizeF() - 0.25 >= smallest) {
            font.setPointSizeF(font.pointSizeF() - 0.25);
            label->setFont(font);
        }
        return box;
    }
    if (label != nullptr) label->setWordWrap(false);
    const int need = w->sizeHint().width();
    if (need <= box.width()) return box;
    const int grow = need - box.width();
    if (label != nullptr && (label->alignment() & Qt::AlignHCenter)) box.translate(-grow / 2, 0);
    box.setWidth(need);
    return box;
}

constexpr ControlMnemonic kMnemonics[] = {
    {kMainDialog, 1000, "&Input File", id::input_select},
    {kMainDialog, 1005, "&Output File", id::output_select},
    {kMainDialog, id::convert, "&Convert", 0},
    {kMainDialog, id::reset, "&Reset", 0},
    {kMainDialog, id::exit, "E&xit", 0},
    {kWavelengthPrompt, 1027, "Wavelength alpha&1:", id::alpha1_box},
    {kWavelengthPrompt, 1028, "Wavelength alpha&2:", id::alpha2_box},
    {kWavelengthPrompt, 1031, "Intensity &ratio alpha2/alpha1 | Input 0 if no alpha2",
     id::ratio_box},
    {kXyInputPrompt, 1031, "&Title on File:", id::xy_title_box},
    {kXyInputPrompt, 1033, "&Count time/step (secs):", id::count_time_box},
    {kXyInputPrompt, 1036, "Number of &header lines to skip:", id::header_lines_box},
    {kXyInputPrompt, 1039, "Read &sigma(I)", id::read_sigma_box},
    {kSlitPrompt, id::slit_box, "&Perform intensity conversion", 0},
    {kAsciiOutputPrompt, id::write_title_box, "Write &title onto file:", 0},
    {kAsciiOutputPrompt, id::write_sigma_box, "Write &sigma(I) into file", 0},
};

// The text without its mnemonic marks ("&&" is a plain "&").
QString without_mnemonic(const QString& text) {
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
        plain += text[i];
    }
    return plain;
}

// A group box's mnemonic presses the button of its row.
class GroupShortcut : public QObject {
  public:
    GroupShortcut(QGroupBox* group, QAbstractButton* button) : QObject(group), button_(button) {
        group->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Shortcut) return false;
        if (button_->isEnabled()) button_->animateClick();
        return true;
    }

  private:
    QAbstractButton* button_;
};

}  // namespace

std::span<const ControlMnemonic> control_mnemonics() noexcept {
    return kMnemonics;
}

DialogBaseUnits DialogBaseUnits::of(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The rounded average of the 52 letters, computed as Windows computes it.
    return {(width / 26 + 1) / 2, fm.height()};
}

QRect DialogBaseUnits::to_pixels(int x_units, int y_units, int cx_units, int cy_units) const {
    return {mul_div(x_units, x, 4), mul_div(y_units, y, 8), mul_div(cx_units, x, 4),
            mul_div(cy_units, y, 8)};
}

int caption_width(const QString& caption) {
    // The window manager draws the caption in a font of its own, often larger
    // than the program's: a bold font of at least 12 pixels, and a sixth more.
    QFont title = QApplication::font();
    title.setBold(true);
    if (QFontMetrics(title).height() < 14) title.setPixelSize(12);
    const QFontMetrics fm(title);
    return fm.horizontalAdvance(caption) * 7 / 6 + 5 * fm.height() + 24;
}

QFont template_font(const DialogTemplate& t) {
    QFont font(qstr(t.font_family), t.font_points);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

TemplateDialog::TemplateDialog(const DialogTemplate& t, QWidget* parent)
    : QDialog(parent), template_id_(t.id) {
    setObjectName(QStringLiteral("dialog%1").arg(t.id));
    setWindowTitle(qstr(t.caption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t.style & kCloseBox) flags |= Qt::WindowCloseButtonHint;
    if (t.style & kMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setFont(template_font(t));
    units_ = DialogBaseUnits::of(font());
    const QRect client = units_.to_pixels(0, 0, t.cx, t.cy);
    // Wider than the template when the caption needs it; the controls keep their places.
    setFixedSize(std::max(client.width(), caption_width(windowTitle())), client.height());
}

bool TemplateDialog::build_controls(const DialogTemplate& t) {
    for (const ControlTemplate& c : t.controls) {
        const QRect box = units_.to_pixels(c.x, c.y, c.cx, c.cy);
        const QString text = qstr(c.text);
        QWidget* w = nullptr;
        switch (c.kind) {
            case ControlKind::group_box: {
                // The frame runs through the middle of the title, as in the
                // layouts' own drawing, so that the rows keep their room.
                auto* group = new QGroupBox(text, this);
                group->setStyleSheet(QStringLiteral(
                    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                    " margin-top: 0.5em; }"
                    "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
                w = group;
                break;
            }
            case ControlKind::static_text: {
                auto* label = new QLabel(this);
                label->setTextFormat(Qt::PlainText);
                label->setWordWrap(true);
                label->setAlignment(((c.style & kCentered) ? Qt::AlignHCenter : Qt::AlignLeft) |
                                    Qt::AlignTop);
                if (c.style & (kSunken | kBorder)) {
                    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                    label->setLineWidth(1);
                }
                label->setText(text);
                w = label;
                break;
            }
            case ControlKind::push_button: {
                auto* button = new QPushButton(text, this);
                if (c.style & kDefaultButton) button->setDefault(true);
                const int id = c.id;
                connect(button, &QPushButton::clicked, this, [this, id] { pressed(id); });
                w = button;
                break;
            }
            case ControlKind::drop_down_list: {
                auto* list = new QComboBox(this);
                const int id = c.id;
                connect(list, &QComboBox::activated, this, [this, id] {
                    if (auto it = actions_.find(id); it != actions_.end()) it->second();
                });
                w = list;
                break;
            }
            case ControlKind::edit: {
                // A several-line box without "want return" shows one line in
                // which Enter presses the default button: a line edit does both.
                auto* edit = new QLineEdit(text, this);
                edit->setCursorPosition(0);
                w = edit;
                break;
            }
            case ControlKind::check_box: {
                auto* check = new QCheckBox(text, this);
                const int id = c.id;
                connect(check, &QCheckBox::clicked, this, [this, id] {
                    if (auto it = actions_.find(id); it != actions_.end()) it->second();
                });
                w = check;
                break;
            }
            case ControlKind::icon: {
                const auto pixmap = icon_resource(c.text);
                if (!pixmap) return false;
                auto* label = new QLabel(this);
                const int extent = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
                label->setPixmap(style()->standardIcon(*pixmap, nullptr, this).pixmap(extent));
                // An icon control takes the size of its icon, whatever the template says.
                label->setGeometry(box.x(), box.y(), extent, extent);
                label->setObjectName(QString::number(c.id));
                continue;
            }
        }
        w->setObjectName(QString::number(c.id));
        if (!c.text.empty() &&
            (c.kind == ControlKind::static_text || c.kind == ControlKind::check_box)) {
            w->setGeometry(fit_fixed_text(w, box));
        } else if (c.kind == ControlKind::drop_down_list) {
            // The template's height includes the dropped-down list.
            auto* list = static_cast<QComboBox*>(w);
            const int closed = list->sizeHint().height();
            list->setGeometry(box.x(), box.y(), box.width(), closed);
            const int rows = (box.height() - closed) / std::max(1, list->fontMetrics().height());
            list->setMaxVisibleItems(std::max(1, rows));
        } else {
            w->setGeometry(box);
        }
        if (c.style & kDisabled) w->setEnabled(false);
    }
    return true;
}

QWidget* TemplateDialog::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void TemplateDialog::set_text(int id, const QString& text) {
    QWidget* w = control(id);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(text);
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
    }
}

QString TemplateDialog::text(int id) const {
    QWidget* w = control(id);
    const bool marked = w != nullptr && w->property("mnemonic").toBool();
    auto shown = [marked](const QString& t) { return marked ? without_mnemonic(t) : t; };
    if (auto* label = qobject_cast<QLabel*>(w)) return shown(label->text());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return shown(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) return shown(group->title());
    if (auto* list = qobject_cast<QComboBox*>(w)) return list->currentText();
    return {};
}

void TemplateDialog::set_entries(int id, const QStringList& entries) {
    if (auto* list = control_as<QComboBox>(id)) {
        list->clear();
        list->addItems(entries);
        list->setCurrentIndex(-1);
    }
}

void TemplateDialog::select_entry(int id, int entry) {
    if (auto* list = control_as<QComboBox>(id)) list->setCurrentIndex(entry - 1);
}

int TemplateDialog::selected_entry(int id) const {
    const auto* list = control_as<QComboBox>(id);
    return list == nullptr ? 0 : list->currentIndex() + 1;
}

void TemplateDialog::set_checked(int id, bool checked) {
    if (auto* check = control_as<QCheckBox>(id)) check->setChecked(checked);
}

bool TemplateDialog::checked(int id) const {
    const auto* check = control_as<QCheckBox>(id);
    return check != nullptr && check->isChecked();
}

void TemplateDialog::enable(int id, bool enabled) {
    if (QWidget* w = control(id)) w->setEnabled(enabled);
}

void TemplateDialog::attach(int id, std::function<void()> action) {
    actions_[id] = std::move(action);
}

void TemplateDialog::pressed(int id) {
    if (auto it = actions_.find(id); it != actions_.end()) {
        // Copy: the action may attach another one under the same id.
        const std::function<void()> action = it->second;
        action();
    } else {
        done(id);
    }
}

void TemplateDialog::done(int result) {
    if (close_check_ && !close_check_()) return;
    QDialog::done(result);
}

void TemplateDialog::add_cancel(int x_units, int y_units, int cx_units, int cy_units) {
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAutoDefault(false);
    cancel->setGeometry(units_.to_pixels(x_units, y_units, cx_units, cy_units));
    connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
    cancellable_ = true;
}

void TemplateDialog::reject() {
    if (!cancellable_) {
        done(QDialog::Rejected);
        return;
    }
    cancelled_ = true;
    QDialog::done(QDialog::Rejected);
}

void TemplateDialog::closeEvent(QCloseEvent* event) {
    if (!cancellable_) {
        QDialog::closeEvent(event);
        return;
    }
    // The close box reads the dialog back as OK does.
    done(id::ok);
    if (isVisible())
        event->ignore();
    else
        event->accept();
}

void TemplateDialog::set_mnemonic(int id, const QString& text, int target) {
    QWidget* w = control(id);
    if (w == nullptr) return;
    w->setProperty("mnemonic", true);
    if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(text);
        if (QWidget* buddy = control(target)) label->setBuddy(buddy);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(text);
        if (auto* pressed = control_as<QAbstractButton>(target)) new GroupShortcut(group, pressed);
    }
}

std::unique_ptr<TemplateDialog> build_dialog(const DialogTemplate& t, QWidget* parent) {
    auto dialog = std::make_unique<TemplateDialog>(t, parent);
    if (!dialog->build_controls(t)) return nullptr;
    for (const ControlMnemonic& m : kMnemonics)
        if (m.dialog == t.id) dialog->set_mnemonic(m.id, QString::fromLatin1(m.text), m.target);
    return dialog;
}

std::unique_ptr<TemplateDialog> build_dialog(int template_id, QWidget* parent) {
    const DialogTemplate* t = find_dialog_template(template_id);
    if (t == nullptr) return nullptr;
    return build_dialog(*t, parent);
}

}  // namespace qelda::ui
