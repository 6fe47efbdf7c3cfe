#include "ui/result_dialogs.h"

#include <QLabel>

#include "core/display_texts.h"
#include "ui/qt_text.h"

namespace qelda::ui {

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
    if (!warnings.empty()) {
        QStringList lines;
        for (const auto& w : warnings) lines << from_path(w);
        add_note_below(*d, QStringLiteral("warnings"), lines.join(QLatin1Char('\n')));
    }
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
                                                    QWidget* parent) {
    auto d = build_dialog(kSuccessDialog, parent);
    if (!d) return d;
    d->set_text(id::count_line, from_bytes(success_count_text(record.point_count)));
    d->set_text(id::from_name, from_path(file_name_part(session.input_path)));
    d->set_text(id::to_name, from_path(file_name_part(session.output_path)));
    return d;
}

}  // namespace qelda::ui
