// The one builder that turns a dialog template into a Qt dialog, and the
// dialog operations the rest of the window uses: set and get a control's text,
// fill and select a list, tick a box, enable a control, attach an action, run
// modally.
//
// Positions are converted from dialog units the way Windows does it: one
// horizontal unit is a quarter of the font's average character width (the
// average over A-Z and a-z), one vertical unit an eighth of its height. Every
// control's objectName is its id as text, so that tests find it by id.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <span>

#include "ui/dialog_templates.h"

class QWidget;

namespace qelda::ui {

// The dialog base units of a font: average character width and height, pixels.
struct DialogBaseUnits {
    int x = 0;
    int y = 0;

    static DialogBaseUnits of(const QFont& font);
    // A rectangle in dialog units, in pixels.
    QRect to_pixels(int x_units, int y_units, int cx_units, int cy_units) const;
};

// The font a template names, at its point size (the system substitutes a
// family it does not have).
QFont template_font(const DialogTemplate& t);

// The width a window needs for its caption to be read whole: the caption in a
// bold title font, with room for the window's icon and its boxes.
int caption_width(const QString& caption);

class TemplateDialog : public QDialog {
    Q_OBJECT

  public:
    TemplateDialog(const DialogTemplate& t, QWidget* parent);

    int template_id() const noexcept { return template_id_; }
    DialogBaseUnits base_units() const noexcept { return units_; }

    // The control with this id, or nullptr.
    QWidget* control(int id) const;
    template <class W>
    W* control_as(int id) const {
        return qobject_cast<W*>(control(id));
    }

    // Static, edit, button or check box text; a drop-down list's current entry.
    void set_text(int id, const QString& text);
    QString text(int id) const;
    // Drop-down lists: entries are numbered from 1; 0 means no entry selected.
    void set_entries(int id, const QStringList& entries);
    void select_entry(int id, int entry);
    int selected_entry(int id) const;
    void set_checked(int id, bool checked);
    bool checked(int id) const;
    void enable(int id, bool enabled);

    // Attaches the action of a push button (pressed), check box (toggled) or
    // drop-down list (selection changed by the user). A push button without an
    // action ends the dialog with its id as result.
    void attach(int id, std::function<void()> action);

    // Asked before the dialog ends (OK, close box, Escape): returning false
    // keeps it open. Prompts use it to refuse boxes that do not read.
    void set_close_check(std::function<bool()> check) { close_check_ = std::move(check); }

    void done(int result) override;

    // Adds a Cancel button at this place (dialog units): Cancel and Escape then
    // end the dialog at once, without the close check, and cancelled() says so.
    // The close box still ends it as OK does.
    void add_cancel(int x_units, int y_units, int cx_units, int cy_units);
    bool cancelled() const noexcept { return cancelled_; }
    void reject() override;

    // Gives a control its keyboard mnemonic: `text` is its text with "&" before
    // the letter. A label's mnemonic focuses `target`; a group box's presses
    // the button `target`. text() still answers the text without the "&".
    void set_mnemonic(int id, const QString& text, int target = 0);

    // Makes the controls of the template; false when one cannot be made.
    bool build_controls(const DialogTemplate& t);

  private:
    void pressed(int id);

    int template_id_;
    DialogBaseUnits units_;
    std::map<int, std::function<void()>> actions_;
    std::function<bool()> close_check_;
    bool cancellable_ = false;
    bool cancelled_ = false;

  protected:
    void closeEvent(QCloseEvent* event) override;
};

// The mnemonics of the templates' controls, set by build_dialog.
struct ControlMnemonic {
    int dialog;
    int id;
    const char* text;  // with "&" before the letter
    int target;        // what a label focuses or a group box presses; 0: none
};
std::span<const ControlMnemonic> control_mnemonics() noexcept;

// Builds dialog `template_id`, or returns nullptr when there is no such
// template or one of its controls cannot be made (an unknown icon).
std::unique_ptr<TemplateDialog> build_dialog(int template_id, QWidget* parent = nullptr);
// The same from a template given directly.
std::unique_ptr<TemplateDialog> build_dialog(const DialogTemplate& t, QWidget* parent = nullptr);

// The console line written when a dialog cannot be built.
inline constexpr const char* kDialogNotFound = "Error: dialog not found";

}  // namespace qelda::ui
