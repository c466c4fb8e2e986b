#include "main-form.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QGridLayout>
#include <QListWidgetItem>
#include <QMimeData>
#include <mutex>
#include <thread>

#include "core/qss/qss_manager.h"
#include "stream/iproxy/iproxy_device.h"
#include "stream/video_sink/stream_video_sink_gl.h"
#include "stream/video_sink/stream_video_sink_sw.h"
#include "ui/form-dialogs.h"
#include "ui/widgets/show-mask-widget.h"
#include "ui/widgets/usb-listview-item.h"
#include "ui_main-form.h"
#include "zucam.h"

// The lookup threads' way back to the form: the form clears it when it goes,
// under the lock, so a lookup that ends later posts nothing.
struct NameLookupChannel {
    std::mutex mutex;  // guards form
    MainForm* form = nullptr;
};

namespace {

QString IProxyDeviceName(const QString& serial, QString* error) {
    std::string name;
    std::string errorText;
    const int result = IProxyGetDeviceName(serial.toStdString(), name, errorText);
    if (error != nullptr) *error = QString::fromStdString(errorText);
    return result == 0 ? QString::fromUtf8(name.c_str(), static_cast<int>(name.size())) : QString();
}

// One address of the Wi-Fi page: a grey link whose target is the address.
QString AddressLink(const QString& address) {
    const QString text = address.toHtmlEscaped();
    return QString("<a href=\"%1\"><span style='text-decoration: none;font-family:\"Microsoft YaHei\";"
                   "font-size: 10pt;color:#999999;'>%1</span></a>")
        .arg(text);
}

const char kAddressSeparator[] =
    "<text style='font-family:\"Microsoft YaHei\";font-size: 10pt;color:#999999;'> / </text>";

}  // namespace

MainForm::MainForm(QWidget* parent)
    : QWidget(parent),
      ui(std::make_unique<Ui::MainForm>()),
      deviceNameLookup(IProxyDeviceName),
      lookupChannel_(std::make_shared<NameLookupChannel>()) {
    lookupChannel_->form = this;
    ui->setupUi(this);
    setWindowFlags(Qt::FramelessWindowHint);
    (new QssManager(this))->loadQss(":/qss/parts/main-form.qss");
    InitUi();
}

MainForm::~MainForm() {
    {
        std::lock_guard<std::mutex> lock(lookupChannel_->mutex);
        lookupChannel_->form = nullptr;
    }
    glMask.reset();
    paintMask.reset();
}

void MainForm::InitUi() {
    const ZuCam* app = zucamApp();
    // Names are the user's or the phone's own text: never rich text.
    ui->label_device_name->setTextFormat(Qt::PlainText);
    ui->label_success->setTextFormat(Qt::PlainText);
    ui->label_device_name->setText(app != nullptr ? app->deviceName : QString());

    ui->label_imgwait->SetBackgroundPixmap(":/image/display_waitting.png");
    ui->label_imgwait->SetRotatePixmap(":/image/display_waitting_cursor.png");
    ui->label_imgwait->SetInterval(100);
    ShowState(kWifiWaiting);

    ui->pushButton_ios_usb_server_tips->setToolTip(
        QString::fromUtf8("检测到未安装ios USB设备支持服务，点击重新检测。"));
    connect(ui->label_ip, &QLabel::linkActivated, this, &MainForm::CopyIpToClipboard);
    ui->listWidget->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);

    auto* glLayout = new QGridLayout(ui->openGLWidget);
    glLayout->setContentsMargins(0, 0, 0, 0);
    glMask = std::make_unique<ShowMaskWidget>(ui->openGLWidget);
    glLayout->addWidget(glMask.get());
    auto* paintLayout = new QGridLayout(ui->painterWidget);
    paintLayout->setContentsMargins(0, 0, 0, 0);
    paintMask = std::make_unique<ShowMaskWidget>(ui->painterWidget);
    paintLayout->addWidget(paintMask.get());
}

void MainForm::SetPreviewSinksOff() {
    ui->openGLWidget->Sink()->enabled = false;
    ui->painterWidget->Sink()->enabled = false;
}

void MainForm::ShowState(int state) {
    switch (state) {
    case kWifiWaiting:
        ui->label_imgwait->Start();
        ui->stackedWidget->setCurrentWidget(ui->page_waitlink);
        // The rows go with their items; currentSerial stays.
        for (const UsbDeviceEntry& entry : devices) RemoveRow(entry);
        devices.clear();
        SetPreviewSinksOff();
        break;
    case kUsbWaiting:
        ui->stackedWidget->setCurrentWidget(ui->page_usb_wait_link);
        SetPreviewSinksOff();
        break;
    case kConnected:
        ui->label_imgwait->Stop();
        ui->stackedWidget->setCurrentWidget(ui->page_linksuccess);
        if (!currentSerial.isEmpty() && devices.contains(currentSerial)) {
            UsbDeviceEntry& entry = devices[currentSerial];
            entry.state = UsbDeviceEntry::kIdle;
            if (entry.widget != nullptr) entry.widget->SetState(entry);
            currentSerial.clear();
        }
        SetPreviewSinksOff();
        break;
    case kPreview: {
        const ZuCam* app = zucamApp();
        const bool hardware = app != nullptr && app->useHardwareRender;
        ui->openGLWidget->setVisible(hardware);
        ui->painterWidget->setVisible(!hardware);
        // Only the preview on screen converts pictures: the hidden one's
        // sink is turned off too.
        ui->openGLWidget->Sink()->enabled = hardware;
        ui->painterWidget->Sink()->enabled = !hardware;
        ui->label_imgwait->Stop();
        ui->stackedWidget->setCurrentWidget(ui->page_display);
        break;
    }
    default: SetPreviewSinksOff(); break;
    }
}

int MainForm::CurrentPage() const {
    const int index = ui->stackedWidget->currentIndex();
    return index >= kPageWaitLink && index <= kPageDisplay ? index : kPageOther;
}

void MainForm::SetIpAddress(const QStringList& addresses) {
    if (addresses.isEmpty()) {
        ui->label_ip->setTextFormat(Qt::PlainText);
        ui->label_ip->setText("---.---.---.---");
        return;
    }
    if (ZuCam* app = zucamApp()) app->setLocalIp(addresses.first());
    QString links = AddressLink(addresses.first());
    for (int i = 1; i < addresses.size(); ++i) links += QString::fromUtf8(kAddressSeparator) + AddressLink(addresses[i]);
    ui->label_ip->setTextFormat(Qt::RichText);
    ui->label_ip->setText(QString("<html><head/><body><p>%1</p></body></html>").arg(links));
}

void MainForm::CopyIpToClipboard(const QString& link) {
    auto* mime = new QMimeData;
    mime->setText(link);
    QApplication::clipboard()->setMimeData(mime);
    emit IpCopyToClipboard();
}

void MainForm::RequestDeviceName(const QString& serial, const char* debugLine) {
    if (!deviceNameLookup || lookupsInFlight_.contains(serial)) return;
    lookupsInFlight_.insert(serial);
    // A device may take as long as it likes to answer (lockdownd has no
    // time limit of its own): the lookup never runs on the GUI thread.
    std::thread([lookup = deviceNameLookup, channel = lookupChannel_, serial, debugLine] {
        QString error;
        const QString name = lookup(serial, &error);
        std::lock_guard<std::mutex> lock(channel->mutex);
        if (channel->form == nullptr) return;
        // Dropped by Qt if the form is deleted before the call is delivered.
        QMetaObject::invokeMethod(
            channel->form,
            [form = channel->form, serial, name, error, debugLine] { form->OnDeviceName(serial, name, error, debugLine); },
            Qt::QueuedConnection);
    }).detach();
}

void MainForm::OnDeviceName(const QString& serial, const QString& name, const QString& error, const char* debugLine) {
    lookupsInFlight_.remove(serial);
    qDebug() << debugLine << serial << name << error;
    auto entry = devices.find(serial);
    if (entry == devices.end() || !entry->name.isEmpty()) return;
    entry->name = name.left(kMaxNameLength);
    if (entry->widget != nullptr) entry->widget->SetState(*entry);
}

void MainForm::RemoveRow(const UsbDeviceEntry& entry) {
    if (entry.item != nullptr) delete ui->listWidget->takeItem(ui->listWidget->row(entry.item));
    if (entry.widget != nullptr) entry.widget->deleteLater();
}

void MainForm::UpdateUsbDeviceList(const QStringList& serials) {
    for (const QString& serial : devices.keys()) {
        if (serials.contains(serial, Qt::CaseSensitive)) continue;
        if (serial == currentSerial) currentSerial.clear();
        RemoveRow(devices.value(serial));
        devices.remove(serial);
    }

    const ZuCam* app = zucamApp();
    const double scale = app != nullptr ? app->dpiScale : 1.0;
    for (const QString& serial : serials) {
        auto known = devices.find(serial);
        if (known != devices.end()) {
            // A device whose name could not be read yet (not trusted on the
            // phone) is asked again at every listing until it answers.
            if (known->name.isEmpty()) RequestDeviceName(serial, "[update device name]:");
            continue;
        }
        if (devices.size() >= kMaxDevices) {
            qWarning() << "USB device list: more than" << kMaxDevices << "devices, ignoring" << serial;
            continue;
        }
        auto* item = new QListWidgetItem;
        auto* row = new USBListViewItem(nullptr);
        connect(row, &USBListViewItem::sig_Connect, this,
                [this, row](const QString& device) { OnRowConnect(row, device); });
        item->setSizeHint(QSize(0, static_cast<int>(scale * 50.0)));
        ui->listWidget->addItem(item);
        ui->listWidget->setItemWidget(item, row);

        UsbDeviceEntry entry;
        entry.serial = serial;
        entry.state = UsbDeviceEntry::kIdle;
        entry.item = item;
        entry.widget = row;
        row->SetState(entry);
        devices.insert(serial, entry);
        RequestDeviceName(serial, "[new device name]:");
    }

    QWidget* const step = serials.isEmpty() ? ui->page_noLink : ui->page_checkLink;
    if (ui->stackedWidget_usb_step->currentWidget() != step) ui->stackedWidget_usb_step->setCurrentWidget(step);
}

void MainForm::OnRowConnect(USBListViewItem* row, const QString& serial) {
    auto entry = devices.find(serial);
    if (entry != devices.end()) {
        entry->state = UsbDeviceEntry::kConnecting;
        row->SetState(*entry);
    }
    currentSerial = serial;
    emit ConnecUsbDevice(currentSerial);
}

void MainForm::OnUsbConnectError(const QString& text) {
    if (currentSerial.isEmpty()) return;
    auto entry = devices.find(currentSerial);
    if (entry == devices.end()) return;
    entry->error = text;
    entry->state = UsbDeviceEntry::kFailed;
    if (entry->widget != nullptr) entry->widget->SetState(*entry);
    currentSerial.clear();
}

void MainForm::UpdateIosServiceTip() {
    const ZuCam* app = zucamApp();
    ui->pushButton_ios_usb_server_tips->setVisible(app == nullptr || !app->appleMobileDeviceInstalled);
}

void MainForm::ShowConnectedDevice(const QString& name) {
    ui->label_success->setText(QString::fromUtf8("连接成功\n%1").arg(name));
}

std::vector<StreamVideoSink*> MainForm::GetPreviewSinks() const {
    return {ui->painterWidget->Sink(), ui->openGLWidget->Sink()};
}

void MainForm::SetPreviewStretch(bool stretch) {
    ui->openGLWidget->SetStretch(stretch);
    ui->painterWidget->SetStretch(stretch);
}

void MainForm::SetDeviceNameLookup(DeviceNameLookup lookup) { deviceNameLookup = std::move(lookup); }

void MainForm::on_pushButton_usb_link_1_clicked() {
    emit SetStreamChannel(2);
    ui->stackedWidget_usb_step->setCurrentWidget(ui->page_noLink);
    form_dialogs::CheckAppleMobileDeviceSupport(true, false);
}

void MainForm::on_pushButton_wire_link_2_clicked() { emit SetStreamChannel(0); }

void MainForm::on_label_how_to_open_linkActivated(const QString& link) {
    Q_UNUSED(link);
    form_dialogs::RunUsbHelpDialog(window());
}

void MainForm::on_pushButton_ios_usb_server_tips_clicked() { form_dialogs::CheckAppleMobileDeviceSupport(true, true); }
