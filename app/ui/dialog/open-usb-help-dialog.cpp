#include "ui/dialog/open-usb-help-dialog.h"

#include <QMovie>
#include <QResizeEvent>

#include "ui/dialog/dialog_answer.h"
#include "ui/dialog/dialog_frame.h"
#include "ui_open-usb-help-dialog.h"

OpenUSBHelpDialog::OpenUSBHelpDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::OpenUSBHelpDialog>()) {
    ui_->setupUi(this);
    const double s = applicationDpiScale();
    const QSize size(static_cast<int>(420 * s), static_cast<int>(435 * s));
    // The header is the whole dialog: its height is known only once fixed.
    ApplyDialogFrame(this, ":/qss/dialog/open-usb-help-dialog.qss", ui_->widget_usb_help_title, 30,
                     {ui_->pushButton_usb_help_close}, size.height());
    setFixedSize(size);
    movie_ = new QMovie(":/image/home_android_usb.gif", QByteArray(), this);
    ui_->label_usb_help_gif->setMovie(movie_);
    ui_->label_usb_help_gif->setScaledContents(true);
    ui_->label_usb_help_gif->installEventFilter(this);
    movie_->start();
}

OpenUSBHelpDialog::~OpenUSBHelpDialog() = default;

int OpenUSBHelpDialog::exec() { return dialog_answer::Exec(*this); }

bool OpenUSBHelpDialog::eventFilter(QObject* watched, QEvent* event) {
    if (ui_ && watched == ui_->label_usb_help_gif && event->type() == QEvent::Resize) {
        movie_->setScaledSize(static_cast<QResizeEvent*>(event)->size());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void OpenUSBHelpDialog::on_pushButton_usb_help_close_clicked() { accept(); }
