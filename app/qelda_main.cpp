// qelda [FILE]: the converter window; a FILE (as a desktop's "Open with" gives
// it) is chosen as the input, as if through Select. --help and --version answer
// on standard output without a window (and without a display).
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/main_dialog.h"

namespace {

constexpr const char* kUsage =
    "Usage: qelda [OPTION]... [FILE]\n"
    "Opens the QELDA window, which converts powder diffraction step scans between\n"
    "file formats. A FILE is chosen as the input file.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. Without a window,\n"
    "qelda-convert(1) converts on the command line.\n";
constexpr const char* kVersion = "qelda (QELDA) 2.01\n";

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs(kVersion, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qelda"));
    // Qt has taken its own options out of argv; "--" may still precede FILE.
    int first = 1;
    if (argc > first && std::strcmp(argv[first], "--") == 0) ++first;
    const std::string input = argc > first ? argv[first] : "";
    return qelda::ui::run_program(qelda::ui::kMainDialog, stderr, input);
}
