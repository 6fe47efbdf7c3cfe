// qelda: the converter window.
#include <QApplication>
#include <cstdio>

#include "ui/main_dialog.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelda"));
    return qelda::ui::run_program(qelda::ui::kMainDialog, stderr);
}
