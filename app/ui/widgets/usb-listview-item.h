// One row of the USB device list: the device name (or a hint to trust the
// computer when it could not be read), an error mark carrying the last
// error as its tooltip, and the connect button whose text follows the
// row's state.
#pragma once

#include <QWidget>
#include <memory>

#include "ui/widgets/usb-device-entry.h"

namespace Ui {
class USBListViewItem;
}

class USBListViewItem : public QWidget {
    Q_OBJECT

public:
    static const char* const kUntrustedNameHint;

    explicit USBListViewItem(QWidget* parent = nullptr);
    ~USBListViewItem() override;

    // Keeps a copy of entry and shows it.
    void SetState(const UsbDeviceEntry& entry);
    const UsbDeviceEntry& entry() const { return entry_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void sig_Connect(QString data);

private slots:
    void on_pushButton_connect_clicked();

private:
    std::unique_ptr<Ui::USBListViewItem> ui;
    UsbDeviceEntry entry_;
};
