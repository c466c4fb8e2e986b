// The connection form, the main window's central widget: a stack of four
// pages - how to connect over Wi-Fi (with the local addresses), how to
// connect over USB (with the list of iOS devices found on USB), "connected",
// and the live preview. The main window drives the page through ShowState,
// feeds it the addresses and the USB devices the stream hubs report, and
// takes its three signals. The form owns both previews and hands their
// sinks out; over each preview lies a picture-off overlay. GUI thread only.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/widgets/usb-device-entry.h"

namespace Ui {
class MainForm;
}

struct NameLookupChannel;
class ShowMaskWidget;
class StreamVideoSink;

class MainForm : public QWidget {
    Q_OBJECT

public:
    // Page states of ShowState.
    enum State : int { kWifiWaiting = 0, kUsbWaiting = 1, kConnected = 2, kPreview = 3 };
    // Pages of CurrentPage.
    enum Page : int { kPageWaitLink = 0, kPageUsbWaitLink = 1, kPageLinkSuccess = 2, kPageDisplay = 3, kPageOther = 4 };

    // The name of the iOS device with that serial (UTF-8 decoded), or an
    // empty text with *error saying why. Blocking, and as slow as the device
    // lets it be: it runs on a thread of its own, never on the GUI thread,
    // so it must be callable from any thread.
    using DeviceNameLookup = std::function<QString(const QString& serial, QString* error)>;

    // Rows beyond this many devices are not made (a lying device daemon
    // could list any number).
    static constexpr int kMaxDevices = 32;
    // Longer device names are cut to this many characters.
    static constexpr int kMaxNameLength = 128;

    explicit MainForm(QWidget* parent = nullptr);
    ~MainForm() override;

    // The page state machine: 0 Wi-Fi waiting, 1 USB waiting, 2 connected,
    // 3 preview; any other value only turns the preview sinks off.
    void ShowState(int state);
    // The page shown: 0 to 3 as in Page, 4 for anything else.
    int CurrentPage() const;
    // What the hubs' address lookup turns up: the Wi-Fi page's links.
    void SetIpAddress(const QStringList& addresses);
    // Brings the device rows in line with the serials found on USB.
    void UpdateUsbDeviceList(const QStringList& serials);
    // The hub's connection error: marks the pending device as failed.
    void OnUsbConnectError(const QString& text);
    // Shows the iOS service tip button exactly while the service is missing.
    void UpdateIosServiceTip();
    // "连接成功\n<name>" on the connected page (the name shown as plain text).
    void ShowConnectedDevice(const QString& name);
    // The software preview's sink, then the OpenGL preview's: the head of
    // the render output's list. Owned by the previews, alive with the form.
    std::vector<StreamVideoSink*> GetPreviewSinks() const;
    // Passes stretch (fill the widget) to both previews.
    void SetPreviewStretch(bool stretch);

    // Replaces the device name lookup (the iOS transport's by default).
    void SetDeviceNameLookup(DeviceNameLookup lookup);
    const QMap<QString, UsbDeviceEntry>& deviceEntries() const { return devices; }
    const QString& pendingSerial() const { return currentSerial; }
    // Devices whose name is being looked up right now.
    int lookupsInFlight() const { return lookupsInFlight_.size(); }

signals:
    // An address link was clicked and its text put on the clipboard.
    void IpCopyToClipboard();
    // The user picked the connection kind: 0 Wi-Fi, 2 USB.
    void SetStreamChannel(int channel);
    // The user asked to connect the USB device with that serial.
    void ConnecUsbDevice(QString device);

private slots:
    void on_pushButton_usb_link_1_clicked();
    void on_pushButton_wire_link_2_clicked();
    void on_label_how_to_open_linkActivated(const QString& link);
    void on_pushButton_ios_usb_server_tips_clicked();

private:
    void InitUi();
    void CopyIpToClipboard(const QString& link);
    void OnRowConnect(USBListViewItem* row, const QString& serial);
    // Starts a name lookup for serial unless one is running.
    void RequestDeviceName(const QString& serial, const char* debugLine);
    // GUI thread: a lookup came back.
    void OnDeviceName(const QString& serial, const QString& name, const QString& error, const char* debugLine);
    void RemoveRow(const UsbDeviceEntry& entry);
    void SetPreviewSinksOff();

    std::unique_ptr<Ui::MainForm> ui;
    QMap<QString, UsbDeviceEntry> devices;  // by serial; one per row of listWidget
    QString currentSerial;                  // the device whose connection is pending
    std::unique_ptr<ShowMaskWidget> paintMask;
    std::unique_ptr<ShowMaskWidget> glMask;
    DeviceNameLookup deviceNameLookup;
    QSet<QString> lookupsInFlight_;
    // What the lookup threads report back through; it outlives the form.
    std::shared_ptr<NameLookupChannel> lookupChannel_;
};
