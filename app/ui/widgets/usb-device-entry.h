// One iOS device of the connection form's USB list: the form keeps one per
// serial, and the device's row widget shows a copy.
#pragma once

#include <QString>
#include <cstdint>

class QListWidgetItem;
class USBListViewItem;

struct UsbDeviceEntry {
    enum State : int32_t { kIdle = 0, kConnecting = 1, kFailed = 2 };

    QString serial;
    QString name;   // empty until the device's name could be read
    QString error;  // text of the last connection error
    int32_t state = kIdle;
    QListWidgetItem* item = nullptr;     // owned by the list widget
    USBListViewItem* widget = nullptr;  // the row, set on item
};
