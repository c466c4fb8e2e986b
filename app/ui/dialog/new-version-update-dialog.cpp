#include "new-version-update-dialog.h"

#include "ui/dialog/dialog_frame.h"
#include "ui_new-version-update-dialog.h"

NewVersionUpdateDialog::NewVersionUpdateDialog(const QString& appVersion, const QString& newVersion,
                                               const QString& updateBrief, QWidget* parent)
    : QDialog(parent), ui(new Ui::NewVersionUpdateDialog) {
    ui->setupUi(this);
    ApplyDialogFrame(this, ":/qss/dialog/new-version-update-dialog.css", ui->widget_title, 40, {ui->pushButton_close});
    const double s = applicationDpiScale();
    setFixedSize(static_cast<int>(568 * s), static_cast<int>(361 * s));
    ui->label_new_info->setText(
        QString("Zu虚拟摄像头 %1 可供下载 ，当前版本为 %2 。是否现在下载更新？").arg(newVersion).arg(appVersion));
    ui->textEdit_version_desc->setReadOnly(true);
    ui->textEdit_version_desc->setText(updateBrief);
}

NewVersionUpdateDialog::~NewVersionUpdateDialog() { delete ui; }
