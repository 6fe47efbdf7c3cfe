// qelda-screenshots DIR: renders dialogs 101-108 as the user sees them, each
// with a drawn caption bar above its client area, to DIR/dialog1NN.png.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/display_texts.h"
#include "core/driver.h"
#include "ui/main_dialog.h"
#include "ui/prompt_dialogs.h"
#include "ui/result_dialogs.h"

namespace {

using qelda::ui::TemplateDialog;

// The client area under a caption bar with the caption and the window's boxes.
QImage with_caption(TemplateDialog& d) {
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qelda-screenshots DIR\n");
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
    r.two_theta_start = 10.0f;
    r.two_theta_end = 80.0f;
    r.two_theta_step = 0.02f;
    r.point_count = 3501;
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
    std::unique_ptr<TemplateDialog> others[] = {
        qelda::ui::make_dataset_dialog(r),
        qelda::ui::make_failure_dialog(
            qelda::fixed_text(qelda::kMsgNotAvailable, qelda::kFailureMessageLength)),
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
    return 0;
}
