#include "ui/dialog/dialog_frame.h"

#include <QDialog>
#include <QVariant>

#include "core/frameless/screen_fit.h"
#include "core/qss/qss_manager.h"
#include "core/tether/tq.h"
#include "zucam.h"

double applicationDpiScale() {
    const ZuCam* app = zucamApp();
    return app != nullptr ? app->dpiScale : dpiScaleFactor();
}

void ApplyDialogFrame(QDialog* dialog, const QString& styleSheet, QWidget* titleBar, int titleHeight,
                      const QList<QObject*>& headerButtons, int headerHeight) {
    dialog->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    (new QssManager(dialog))->loadQss(styleSheet);
    const int scaledTitle = static_cast<int>(titleHeight * applicationDpiScale());
    if (titleBar != nullptr) titleBar->setFixedHeight(scaledTitle);
    QVariantList buttons;
    for (QObject* button : headerButtons) buttons << QVariant::fromValue(button);
    dialog->setProperty("header_btns", buttons);
    dialog->setProperty("header_visible", false);
    dialog->setProperty("header_height", headerHeight < 0 ? scaledTitle : headerHeight);
    // A dialog larger than the screen (the help page at a large scale) is
    // fitted into it, and none is shown past the screen's edge.
    screen_fit::KeepOnScreenWhenShown(dialog);
    if (g_cd != nullptr) g_cd->call("Trevane", 100, tq::Value(static_cast<void*>(static_cast<QWidget*>(dialog))), {});
}
