// Helpers for the window tests: answering modal dialogs from a timer, with a
// watchdog so that a dialog nobody expected fails the test instead of hanging
// it, and scratch folders.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class QFileDialog;

namespace qelda::ui::testing {

// Answers modal dialogs as they open. Each handler runs once, on the first
// active modal dialog with its object name ("dialog103", "input_chooser"...),
// in the order the handlers were given. After `watchdog_ms` the script gives
// up: it closes whatever modal dialog is open, and `tripped()` turns true.
class ModalScript {
  public:
    explicit ModalScript(int watchdog_ms = 20000);
    ~ModalScript();
    ModalScript(const ModalScript&) = delete;
    ModalScript& operator=(const ModalScript&) = delete;

    void on(const QString& name, std::function<void(QDialog*)> handle);
    // True when every handler has run.
    bool all_ran() const;
    bool tripped() const noexcept { return tripped_; }
    // Names of the modal dialogs that were seen, in order.
    const QStringList& seen() const noexcept { return seen_; }

  private:
    struct Entry {
        QString name;
        std::function<void(QDialog*)> handle;
        bool ran = false;
    };
    void poll();

    QTimer timer_;
    QElapsedTimer clock_;
    int watchdog_ms_;
    bool tripped_ = false;
    std::vector<Entry> entries_;
    // Cleared when the dialog goes: the next one may be made at its address.
    QPointer<QDialog> last_;
    QStringList seen_;
};

// Types `path` into a chooser's name box and accepts it.
void choose_file(QFileDialog* chooser, const QString& path);

// Presses a push button or ticks a check box of a dialog by control id.
void click(QDialog* dialog, int id);
// Types into an edit box of a dialog by control id (replacing its text).
void type_into(QDialog* dialog, int id, const QString& text);
// Control text (static, edit, button) by id.
QString text_of(QDialog* dialog, int id);

// A scratch folder whose path has no "." (the extension of a path is taken
// after its first "."); `path(name)` is a file inside it.
class Scratch {
  public:
    Scratch();
    bool valid() const;
    QString path(const QString& name) const;
    QString write(const QString& name, const QByteArray& content) const;
    QByteArray read(const QString& name) const;

  private:
    QTemporaryDir dir_;
};

}  // namespace qelda::ui::testing
