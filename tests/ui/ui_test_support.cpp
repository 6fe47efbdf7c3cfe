#include "tests/ui/ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace qelda::ui::testing {

ModalScript::ModalScript(int watchdog_ms) : watchdog_ms_(watchdog_ms) {
    clock_.start();
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
}

ModalScript::~ModalScript() {
    timer_.stop();
}

void ModalScript::on(const QString& name, std::function<void(QDialog*)> handle) {
    entries_.push_back({name, std::move(handle)});
}

bool ModalScript::all_ran() const {
    for (const Entry& e : entries_)
        if (!e.ran) return false;
    return true;
}

void ModalScript::poll() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (clock_.elapsed() > watchdog_ms_) {
        tripped_ = true;
        if (dialog != nullptr) dialog->reject();
        return;
    }
    if (dialog == nullptr || !dialog->isVisible() || dialog == last_) return;
    for (Entry& e : entries_) {
        if (e.ran || e.name != dialog->objectName()) continue;
        e.ran = true;
        last_ = dialog;
        seen_ << dialog->objectName();
        // Run the handler after this poll returns: a dialog it opens in turn
        // (a message box of the chooser) is then seen by the next polls.
        QTimer::singleShot(0, dialog, [handle = e.handle, dialog] { handle(dialog); });
        return;
    }
}

void choose_file(QFileDialog* chooser, const QString& path) {
    auto* name_box = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(name_box != nullptr);
    name_box->setText(path);
    static_cast<QDialog*>(chooser)->accept();  // the Open button
}

void click(QDialog* dialog, int id) {
    auto* button = dialog->findChild<QAbstractButton*>(QString::number(id));
    QVERIFY2(button != nullptr, qPrintable(QStringLiteral("no button %1").arg(id)));
    button->click();
}

void type_into(QDialog* dialog, int id, const QString& text) {
    auto* edit = dialog->findChild<QLineEdit*>(QString::number(id));
    QVERIFY2(edit != nullptr, qPrintable(QStringLiteral("no edit box %1").arg(id)));
    edit->selectAll();
    QTest::keyClicks(edit, text);
    if (text.isEmpty()) QTest::keyClick(edit, Qt::Key_Delete);
}

QString text_of(QDialog* dialog, int id) {
    QWidget* w = dialog->findChild<QWidget*>(QString::number(id));
    if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    return QStringLiteral("<no control %1>").arg(id);
}

Scratch::Scratch() : dir_(QDir::tempPath() + QStringLiteral("/qelda_ui_XXXXXX")) {}

bool Scratch::valid() const {
    return dir_.isValid() && !dir_.path().contains(QLatin1Char('.'));
}

QString Scratch::path(const QString& name) const {
    return dir_.filePath(name);
}

QString Scratch::write(const QString& name, const QByteArray& content) const {
    const QString p = path(name);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly)) f.write(content);
    return p;
}

QByteArray Scratch::read(const QString& name) const {
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace qelda::ui::testing
