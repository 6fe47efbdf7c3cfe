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

void mark(QLineEdit* edit, const char* refusal) {
    const bool refused = refusal != nullptr;
    edit->setProperty(kRefusedProperty, refused);
    edit->setToolTip(refused ? QString::fromLatin1(refusal) : QString());
    edit->setStyleSheet(refused ? QStringLiteral("QLineEdit { background: #ffd8d8; }") : QString());
}

// Refuses to let the prompt end while a number box would not read: marks every
// such box, tells what is wrong at the first one and gives it the focus.
void refuse_bad_numbers(TemplateDialog& d, std::span<const NumberBox> boxes) {
    for (const NumberBox& b : boxes) {
        if (auto* edit = d.control_as<QLineEdit>(b.id))
            QObject::connect(edit, &QLineEdit::textEdited, edit, [edit] { mark(edit, nullptr); });
    }
    TemplateDialog* dialog = &d;
    d.set_close_check([dialog, boxes] {
        QLineEdit* first = nullptr;
        const char* first_refusal = nullptr;
        for (const NumberBox& b : boxes) {
            auto* edit = dialog->control_as<QLineEdit>(b.id);
            if (edit == nullptr) continue;
            const bool reads = prompt_box_reads(b.box, to_bytes(edit->text()));
            mark(edit, reads ? nullptr : b.refusal);
            if (!reads && first == nullptr) {
                first = edit;
                first_refusal = b.refusal;
            }
        }
        if (first == nullptr) return true;
        first->setFocus();
        first->selectAll();
        QToolTip::showText(first->mapToGlobal(QPoint(0, first->height())),
                           QString::fromLatin1(first_refusal), first);
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
    d->set_text(id::xy_title_box, from_bytes(fixed_text(current_title, kTitleLength)));
    d->set_text(id::header_lines_box, QString::number(header_lines));
    d->set_text(id::count_time_box, QString());
    d->set_checked(id::read_sigma_box, false);
    refuse_bad_numbers(*d, kXyInputBoxes);
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
    return d;
}

bool read_slit_prompt(const TemplateDialog& d) {
    return d.checked(id::slit_box);
}

std::unique_ptr<TemplateDialog> make_ascii_output_prompt(std::string_view current_title,
                                                         QWidget* parent) {
    auto d = build_dialog(kAsciiOutputPrompt, parent);
    if (!d) return d;
    d->set_text(id::ascii_title_box, from_bytes(fixed_text(current_title, kTitleLength)));
    d->set_checked(id::write_title_box, true);
    d->set_checked(id::write_sigma_box, false);
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
