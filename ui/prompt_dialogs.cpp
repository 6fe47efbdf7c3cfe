#include "ui/prompt_dialogs.h"

#include <QLineEdit>
#include <QToolTip>
#include <span>

#include "core/prompts.h"
#include "ui/qt_text.h"

namespace qelda::ui {
namespace {

struct NumberBox {
    int id;
    PromptBox box;
    const char* refusal;  // what the user is told when the box does not read
};

constexpr NumberBox kWavelengthBoxes[] = {
    {id::alpha1_box, PromptBox::wavelength, "Type a number here, such as 1.5405."},
    {id::alpha2_box, PromptBox::wavelength, "Type a number here, such as 1.5443."},
    {id::ratio_box, PromptBox::wavelength, "Type a number here, such as 0.5 (0 if no alpha2)."},
};

constexpr NumberBox kXyInputBoxes[] = {
    {id::count_time_box, PromptBox::count_time, "Type a number of seconds here, such as 1.0."},
    {id::header_lines_box, PromptBox::header_lines,
     "Type a whole number of lines here, such as 0."},
};

// A wavelength or ratio typed without a decimal point reads as hundred-
// thousandths ("2" as 0.00002); only "0" (no alpha2) is meant that way. A
// negative one is no wavelength or ratio at all. Empty when the text is fine.
QString wavelength_refusal(const QString& typed, bool ratio) {
    const QString t = typed.trimmed();
    if (t.startsWith(QLatin1Char('-')))
        return ratio ? QStringLiteral("The intensity ratio cannot be negative.")
                     : QStringLiteral("A wavelength cannot be negative.");
    QString digits = t.startsWith(QLatin1Char('+')) ? t.mid(1) : t;
    if (digits.isEmpty() || digits.contains(QLatin1Char('.'))) return {};
    for (const QChar c : digits)
        if (!c.isDigit()) return {};
    QString stripped = digits;
    while (stripped.size() > 1 && stripped.startsWith(QLatin1Char('0'))) stripped.remove(0, 1);
    if (stripped == QLatin1String("0")) return {};
    // What the box would read: the digits as hundred-thousandths.
    QString read = digits.rightJustified(6, QLatin1Char('0'));
    read.insert(read.size() - 5, QLatin1Char('.'));
    while (read.size() > 7 && read.startsWith(QLatin1Char('0'))) read.remove(0, 1);
    const QString meant = stripped.size() == 1
                              ? stripped + QStringLiteral(".0")
                              : stripped.left(1) + QLatin1Char('.') + stripped.mid(1);
    return QStringLiteral("Type %1: %2 without a point reads as %3.").arg(meant, digits, read);
}

// Why a box is refused, or empty when it reads.
QString refusal_of(const NumberBox& b, const QString& text) {
    if (!prompt_box_reads(b.box, to_bytes(text))) return QString::fromLatin1(b.refusal);
    if (b.box == PromptBox::wavelength) return wavelength_refusal(text, b.id == id::ratio_box);
    return {};
}

void mark(QLineEdit* edit, const QString& refusal) {
    const bool refused = !refusal.isEmpty();
    edit->setProperty(kRefusedProperty, refused);
    edit->setToolTip(refusal);
    edit->setStyleSheet(refused ? QStringLiteral("QLineEdit { background: #ffd8d8; }") : QString());
}

// Refuses to let the prompt end while a number box would not read: marks every
// such box, tells what is wrong at the first one and gives it the focus.
void refuse_bad_numbers(TemplateDialog& d, std::span<const NumberBox> boxes) {
    for (const NumberBox& b : boxes) {
        if (auto* edit = d.control_as<QLineEdit>(b.id))
            QObject::connect(edit, &QLineEdit::textEdited, edit, [edit] { mark(edit, {}); });
    }
    TemplateDialog* dialog = &d;
    d.set_close_check([dialog, boxes] {
        QLineEdit* first = nullptr;
        QString first_refusal;
        for (const NumberBox& b : boxes) {
            auto* edit = dialog->control_as<QLineEdit>(b.id);
            if (edit == nullptr) continue;
            const QString refusal = refusal_of(b, edit->text());
            mark(edit, refusal);
            if (!refusal.isEmpty() && first == nullptr) {
                first = edit;
                first_refusal = refusal;
            }
        }
        if (first == nullptr) return true;
        first->setFocus();
        first->selectAll();
        QToolTip::showText(first->mapToGlobal(QPoint(0, first->height())), first_refusal, first);
        return false;
    });
}

// A title box: line breaks (pasted text) would split the title's line in the
// file written, so they are read as blanks.
std::string title_text(const TemplateDialog& d, int box) {
    std::string text = to_bytes(d.text(box));
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

std::unique_ptr<TemplateDialog> make_wavelength_prompt(QWidget* parent) {
    auto d = build_dialog(kWavelengthPrompt, parent);
    if (!d) return d;
    const WavelengthEntries start;
    d->set_text(id::alpha1_box, from_bytes(start.alpha1));
    d->set_text(id::alpha2_box, from_bytes(start.alpha2));
    d->set_text(id::ratio_box, from_bytes(start.ratio));
    refuse_bad_numbers(*d, kWavelengthBoxes);
    d->add_cancel(15, 85, 50, 14);
    return d;
}

WavelengthEntries read_wavelength_prompt(const TemplateDialog& d) {
    WavelengthEntries e;
    e.alpha1 = to_bytes(d.text(id::alpha1_box));
    e.alpha2 = to_bytes(d.text(id::alpha2_box));
    e.ratio = to_bytes(d.text(id::ratio_box));
    return e;
}

std::unique_ptr<TemplateDialog> make_xy_input_prompt(std::string_view current_title,
                                                     int32_t header_lines, QWidget* parent) {
    auto d = build_dialog(kXyInputPrompt, parent);
    if (!d) return d;
    d->set_text(id::xy_title_box, from_bytes(trim_right(current_title)));
    d->set_text(id::header_lines_box, QString::number(header_lines));
    d->set_text(id::count_time_box, QString());
    d->set_checked(id::read_sigma_box, false);
    refuse_bad_numbers(*d, kXyInputBoxes);
    d->add_cancel(11, 106, 50, 14);
    return d;
}

XyInputEntries read_xy_input_prompt(const TemplateDialog& d) {
    XyInputEntries e;
    e.title = title_text(d, id::xy_title_box);
    e.count_time = to_bytes(d.text(id::count_time_box));
    e.header_lines = to_bytes(d.text(id::header_lines_box));
    e.read_sigma = d.checked(id::read_sigma_box);
    return e;
}

std::unique_ptr<TemplateDialog> make_slit_prompt(QWidget* parent) {
    auto d = build_dialog(kSlitPrompt, parent);
    if (!d) return d;
    d->set_checked(id::slit_box, false);
    TemplateDialog* dialog = d.get();
    d->attach(id::slit_box, [dialog] {
        static const std::string kBlank(150, ' ');
        const std::string_view warning = kSlitWarning;
        dialog->set_text(id::slit_warning,
                         from_bytes(dialog->checked(id::slit_box) ? warning : kBlank));
    });
    d->add_cancel(37, 95, 50, 14);
    return d;
}

bool read_slit_prompt(const TemplateDialog& d) {
    return d.checked(id::slit_box);
}

std::unique_ptr<TemplateDialog> make_ascii_output_prompt(std::string_view current_title,
                                                         QWidget* parent) {
    auto d = build_dialog(kAsciiOutputPrompt, parent);
    if (!d) return d;
    d->set_text(id::ascii_title_box, from_bytes(trim_right(current_title)));
    d->set_checked(id::write_title_box, true);
    d->set_checked(id::write_sigma_box, false);
    d->add_cancel(30, 75, 50, 14);
    return d;
}

AsciiOutputEntries read_ascii_output_prompt(const TemplateDialog& d) {
    AsciiOutputEntries e;
    e.write_sigma = d.checked(id::write_sigma_box);
    e.write_title = d.checked(id::write_title_box);
    e.title = title_text(d, id::ascii_title_box);
    return e;
}

}  // namespace qelda::ui
