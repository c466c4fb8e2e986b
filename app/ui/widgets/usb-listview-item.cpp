#include "usb-listview-item.h"

#include <QCoreApplication>
#include <QCursor>
#include <QHelpEvent>

#include "core/qss/qss_manager.h"
#include "ui/widgets/plain-text.h"
#include "ui_usb-listview-item.h"

const char* const USBListViewItem::kUntrustedNameHint = "设备名获取失败，请在手机上选择信任此设备。";

USBListViewItem::USBListViewItem(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::USBListViewItem>()) {
    ui->setupUi(this);
    // The device name comes from the phone: never rich text.
    ui->label_name->setTextFormat(Qt::PlainText);
    (new QssManager(this))->loadQss(":/qss/parts/usb-listview-item.qss");
    ui->pushButton_error->installEventFilter(this);
}

USBListViewItem::~USBListViewItem() = default;

void USBListViewItem::SetState(const UsbDeviceEntry& entry) {
    entry_ = entry;
    ui->label_name->setText(entry_.name.isEmpty() ? QString::fromUtf8(kUntrustedNameHint) : entry_.name);
    switch (entry_.state) {
    case UsbDeviceEntry::kIdle:
        ui->pushButton_error->hide();
        ui->pushButton_connect->setText("连接");
        ui->pushButton_connect->setEnabled(true);
        ui->pushButton_connect->show();
        break;
    case UsbDeviceEntry::kConnecting:
        ui->pushButton_error->hide();
        ui->pushButton_connect->setText("连接中...");
        ui->pushButton_connect->setEnabled(false);
        ui->pushButton_connect->show();
        break;
    case UsbDeviceEntry::kFailed:
        ui->pushButton_error->setToolTip(PlainToolTip(entry_.error));
        ui->pushButton_error->show();
        ui->pushButton_connect->setText("重连");
        ui->pushButton_connect->setEnabled(true);
        ui->pushButton_connect->show();
        break;
    default: break;
    }
}

bool USBListViewItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->pushButton_error && event->type() == QEvent::Enter) {
        // Shows the error at once instead of after the usual tooltip delay.
        QCoreApplication::postEvent(ui->pushButton_error,
                                    new QHelpEvent(QEvent::ToolTip, QPoint(0, 0), QCursor::pos()));
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void USBListViewItem::on_pushButton_connect_clicked() { emit sig_Connect(entry_.serial); }
