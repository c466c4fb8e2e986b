#include "ui/dialog/desktop_open.h"

#include <QDesktopServices>
#include <QDir>
#include <QString>

#include "core/tether/tq_log.h"
#include "ui/dialog/message-box-dialog.h"

bool OpenWithDesktop(QWidget* parent, const QUrl& url) {
    if (QDesktopServices::openUrl(url)) return true;
    QString message;
    if (url.isLocalFile()) {
        const QString path = QDir::toNativeSeparators(url.toLocalFile());
        LOG_E("the desktop did not open the folder %s", path.toUtf8().constData());
        message = QString::fromUtf8("无法打开文件夹，文件保存在：\n%1").arg(path);
    } else {
        const QString link = url.toString();
        LOG_E("the desktop did not open the link %s", link.toUtf8().constData());
        message = QString::fromUtf8("无法打开链接，请在浏览器中打开：\n%1").arg(link);
    }
    MessageBoxDialog box(parent);
    box.SetMessage(message);
    box.SetButtons(1, QString::fromUtf8("确定"), QString());
    box.exec();
    return false;
}
