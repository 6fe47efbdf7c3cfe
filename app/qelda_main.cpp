// qelda [FILE]: the converter window; a FILE (as a desktop's "Open with" gives
// it) is chosen as the input, as if through Select.
#include <QApplication>
#include <cstdio>
#include <string>

#include "ui/main_dialog.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelda"));
    const std::string input = argc > 1 ? argv[1] : "";
    return qelda::ui::run_program(qelda::ui::kMainDialog, stderr, input);
}
