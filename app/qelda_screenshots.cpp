// qelda-screenshots DIR: renders dialogs 101-108 as the user sees them, each
// with a drawn caption bar above its client area, to DIR/dialog1NN.png, and the
// batch dialog after a batch of three files to DIR/batch.png. It also prints how
// long a dataset dialog with a 100000-point pattern takes to build and draw.
// qelda-screenshots --dataset FILE renders the dataset dialog alone to FILE
// (run under QT_SCALE_FACTOR=2 on a small screen, it shows how the dialog fits).
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "ui/batch_dialog.h"

#include "core/display_texts.h"
#include "core/driver.h"
#include "ui/main_dialog.h"
#include "ui/prompt_dialogs.h"
#include "ui/result_dialogs.h"

namespace {

using qelda::ui::TemplateDialog;

// The client area under a caption bar with the caption and the window's boxes.
QImage with_caption(QDialog& d) {
    const QPixmap client = d.grab();
    const QFontMetrics fm(d.font());
    const int bar = fm.height() + 10;
    QImage image(client.width(), client.height() + bar, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.fillRect(0, 0, image.width(), bar, QColor(0, 0, 128));
    p.setPen(Qt::white);
    const QFont caption = d.font();
    p.setFont(caption);
    const Qt::WindowFlags flags = d.windowFlags();
    QString boxes;
    if (flags & Qt::WindowMinimizeButtonHint) boxes += QStringLiteral(" _ ");
    if (flags & Qt::WindowCloseButtonHint) boxes += QStringLiteral(" X ");
    const int boxes_width = QFontMetrics(caption).horizontalAdvance(boxes) + 6;
    p.drawText(QRect(6, 0, image.width() - 12 - boxes_width, bar), Qt::AlignVCenter | Qt::AlignLeft,
               d.windowTitle());
    p.drawText(QRect(0, 0, image.width() - 6, bar), Qt::AlignVCenter | Qt::AlignRight, boxes);
    p.drawPixmap(0, bar, client);
    return image;
}

// A quartz-like scan: peaks of Cu K-alpha1 and alpha2 on a sloping background,
// with a fixed pseudo-random noise.
void fill_pattern(qelda::PowderPattern& r, int points, float start, float step) {
    struct Peak {
        double at, height;
    };
    const Peak peaks[] = {{20.86, 1800}, {26.64, 9000}, {36.54, 700}, {39.47, 800},
                          {40.29, 400},  {42.45, 600},  {45.79, 350}, {50.14, 1300},
                          {54.87, 450},  {59.96, 800},  {64.03, 200}, {67.74, 650},
                          {68.14, 900},  {68.31, 600},  {73.47, 150}, {75.66, 250}};
    unsigned seed = 12345;
    for (int i = 1; i <= points; ++i) {
        const double x = start + step * (i - 1);
        double y = 120.0 - 0.8 * x;
        for (const Peak& p : peaks) {
            for (const double shift : {0.0, 0.00248 * std::tan(p.at * M_PI / 360.0) * 114.6}) {
                const double d = (x - p.at - shift) / 0.06;
                y += (shift == 0.0 ? 1.0 : 0.5) * p.height / (1.0 + d * d);
            }
        }
        seed = seed * 1103515245u + 12345u;
        y += std::sqrt(y) * (static_cast<double>((seed >> 16) & 0x7fff) / 16384.0 - 1.0);
        r.intensity(i) = static_cast<float>(std::max(0.0, y));
    }
    r.point_count = points;
    r.two_theta_start = start;
    r.two_theta_step = step;
    r.two_theta_end = start + step * static_cast<float>(points - 1);
}

// Renders the batch dialog after converting three x-y files into GSAS, one of
// them broken; false when it cannot.
bool batch_screenshot(qelda::ui::WindowInteraction& ui, const QDir& dir) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) return false;
    const QString folder = scratch.path();
    auto write = [&](const QString& name, const QByteArray& text) {
        QFile f(folder + QLatin1Char('/') + name);
        if (!f.open(QIODevice::WriteOnly)) return QString();
        f.write(text);
        return f.fileName();
    };
    QByteArray xy, long_xy;
    for (int i = 0; i < 200; ++i) {
        const double x = 20.0 + 0.05 * i;
        const double y = 100.0 + 2000.0 / (1.0 + std::pow((x - 26.6) / 0.1, 2));
        xy += QByteArray::number(x, 'f', 2) + ' ' + QByteArray::number(y, 'f', 1) + '\n';
        long_xy += QByteArray::number(x, 'f', 2) + ' ' + QByteArray::number(y * 0.5, 'f', 1) + '\n';
    }
    QStringList files{
        write(QStringLiteral("quartz_standard.xy"), xy),
        write(QStringLiteral("sample_0042_corundum_long_name_2theta_10_80.xy"), long_xy),
        write(QStringLiteral("broken.xy"), "20.00 100\n20.05 NaN\n")};
    if (files.contains(QString()) || !QDir(folder).mkdir(QStringLiteral("gsas"))) return false;
    qelda::ui::BatchDialog batch(ui);
    batch.add_files(files);
    batch.set_output_format(qelda::FormatId::gsas);
    batch.set_output_folder(folder + QStringLiteral("/gsas"));
    qelda::ScriptedInteraction::Answers answers;
    answers.count_time = "1.0";
    batch.answer_prompts_with(answers);
    batch.show();
    if (!batch.start()) return false;
    while (batch.running()) QApplication::processEvents();
    const QString file = dir.filePath(QStringLiteral("batch.png"));
    if (!with_caption(batch).save(file)) return false;
    std::printf("%s\n", qPrintable(file));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--dataset") == 0) {
        qelda::ui::WindowInteraction ui;
        qelda::PowderPattern r;
        r.set_title("Quartz standard, Cu K-alpha, 2theta 10-80");
        fill_pattern(r, 3501, 10.0f, 0.02f);
        r.lambda1 = 1.5405f;
        r.lambda2 = 1.5443f;
        r.alpha_ratio = 0.5f;
        const std::vector<std::string> warnings{"quartz.uxd holds 2 ranges; range 1 converted"};
        const auto d = qelda::ui::make_dataset_dialog(r, warnings, nullptr, "/data/quartz.uxd");
        if (!d) return 1;
        d->show();
        const QString file = QString::fromLocal8Bit(argv[2]);
        if (!with_caption(*d).save(file)) return 1;
        std::printf("%s (screen %dx%d, dialog %dx%d)\n", qPrintable(file),
                    d->screen()->availableGeometry().width(),
                    d->screen()->availableGeometry().height(), d->width(), d->height());
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: qelda-screenshots DIR | --dataset FILE\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // A dataset as a reader leaves it, for the dataset and success dialogs.
    qelda::ui::WindowInteraction ui;
    qelda::Workspace ws(ui);
    qelda::PowderPattern& r = ws.record();
    r.set_title("Quartz standard, Cu K-alpha, 2theta 10-80");
    fill_pattern(r, 3501, 10.0f, 0.02f);
    r.lambda1 = 1.5405f;
    r.lambda2 = 1.5443f;
    r.alpha_ratio = 0.5f;
    ws.session().input_path = "/data/quartz.uxd";
    ws.session().output_path = "/data/quartz.gsa";

    qelda::ui::MainDialog main(ws, ui);
    if (!main.build()) {
        ui.report_missing_dialog();
        return 1;
    }
    const std::vector<std::string> warnings{"quartz.uxd holds 2 ranges; range 1 converted"};
    std::unique_ptr<TemplateDialog> others[] = {
        qelda::ui::make_dataset_dialog(r, warnings, nullptr, ws.session().input_path),
        qelda::ui::make_failure_dialog(
            qelda::fixed_text(qelda::kMsgNotAvailable, qelda::kFailureMessageLength),
            "quartz.txt has no keyword lines (_START=, _COUNTS, ...): not a UXD file"),
        qelda::ui::make_success_dialog(r, ws.session()),
        qelda::ui::make_wavelength_prompt(),
        qelda::ui::make_xy_input_prompt(r.title),
        qelda::ui::make_slit_prompt(),
        qelda::ui::make_ascii_output_prompt(r.title),
    };
    std::vector<TemplateDialog*> dialogs{main.dialog()};
    for (auto& d : others) {
        if (!d) {
            ui.report_missing_dialog();
            return 1;
        }
        dialogs.push_back(d.get());
    }
    // The slit prompt as it looks once its box is ticked, warning shown.
    if (auto* slit = dialogs[6]->control_as<QAbstractButton>(qelda::ui::id::slit_box))
        slit->click();

    for (TemplateDialog* d : dialogs) {
        const QString file = dir.filePath(QStringLiteral("dialog%1.png").arg(d->template_id()));
        if (!with_caption(*d).save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("%s\n", qPrintable(file));
    }
    if (!batch_screenshot(ui, dir)) {
        std::fprintf(stderr, "cannot render the batch dialog\n");
        return 1;
    }

    // The dataset dialog of a full record: built, shown and drawn once.
    qelda::Workspace big_ws(ui);
    fill_pattern(big_ws.record(), qelda::kPointCapacity, 5.0f, 0.001f);
    QElapsedTimer clock;
    clock.start();
    const auto big = qelda::ui::make_dataset_dialog(big_ws.record());
    big->show();
    const QPixmap drawn = big->grab();
    std::printf("dataset dialog with %d points built and drawn in %lld ms\n", qelda::kPointCapacity,
                static_cast<long long>(clock.elapsed()));
    return drawn.isNull() ? 1 : 0;
}
