#include "iproxy/stream_iproxy_connection.h"

#include <QStringList>
#include <QTimerEvent>
#include <cstdio>

#include "core/tether/tq_log.h"
#include "iproxy/iproxy_conneciton.h"
#include "iproxy/iproxy_device.h"
#include "parser/command_frame.h"
#include "stream_manager.h"

namespace {
constexpr int kPairingDialogPending = -19;
constexpr int kPairingRefused = -18;
}  // namespace

StreamIProxyConnection::StreamIProxyConnection(uint16_t commandPort, AsyncReactor* reactor, StreamManager* hub)
    : commandPort_(commandPort), reactor_(reactor), hub_(hub) {}

StreamIProxyConnection::~StreamIProxyConnection() {
    if (listTimerId_ != 0) killTimer(listTimerId_);
    stream_.reset();
    command_.reset();
}

bool StreamIProxyConnection::Start() {
    if (listTimerId_ != 0) killTimer(listTimerId_);
    listTimerId_ = startTimer(kDeviceListIntervalMs, Qt::CoarseTimer);
    listErrorLogged_ = false;
    return listTimerId_ != 0;
}

void StreamIProxyConnection::ConnectDevice(const std::string& udid) {
    // A phone picked again (or another one) starts from a clean transport:
    // the old connection is ended in the hub before pairing begins.
    if (command_ || stream_) Close();

    std::string error;
    const int paired = IProxyPairDevice(udid, error);
    if (paired != 0) {
        LOG_E("iproxy pair %s failed: %d %s", udid.c_str(), paired, error.c_str());
        if (hub_ != nullptr) {
            if (paired == kPairingDialogPending) {
                emit hub_->Error(QString::fromUtf8("等待用户授权设备配对"));
            } else if (paired == kPairingRefused) {
                emit hub_->Error(QString::fromUtf8("用户拒绝拒绝了配对请求"));
            } else {
                emit hub_->Error(QString::fromUtf8("与ios设备配对失败"));
            }
        }
        return;
    }
    const int handle = IProxyConnect(udid, commandPort_);
    if (handle < 0) {
        LOG_E("iproxy command connect to %s:%d failed", udid.c_str(), commandPort_);
        if (hub_ != nullptr) {
            emit hub_->Error(QString::fromUtf8(
                "连接ios设备失败，请打开在ios设备上打开Zu虚拟摄像头软件并切换到usb连接模式"));
        }
        return;
    }
    udid_ = udid;
    command_ = std::make_unique<CommandConneciton>(handle, reactor_, hub_);
}

void StreamIProxyConnection::HandleEvent(int event) {
    if (event == kStreamEventConnectionLost) Close();
}

void StreamIProxyConnection::Close() {
    command_.reset();
    stream_.reset();
    if (hub_ != nullptr) hub_->HandleEvent(kStreamEventReceiverClosed);
}

void StreamIProxyConnection::SendCommand(const std::string& json) {
    if (!command_) return;
    fprintf(stderr, "resp cmd: %s\n", json.c_str());
    const std::string frame = MakeCommandFrame(json);
    if (!command_->SendAll(frame.data(), frame.size())) {
        LOG_E("iproxy command send failed; closing");
        Close();
    }
}

bool StreamIProxyConnection::OpenVideoReceiver(bool udp, uint16_t port, const std::string& key,
                                               const std::string& hwDecoder,
                                               const std::vector<StreamAudioSink*>& audioSinks,
                                               const std::vector<StreamVideoSink*>& videoSinks) {
    if (udp) return false;
    // Port 0 (a hello without "iproxyPort") names nothing to connect to.
    const int handle = port != 0 ? IProxyConnect(udid_, port) : -1;
    if (handle < 0) {
        LOG_E("iproxy stream connect failed");
        return false;
    }
    stream_.reset();  // the old connection leaves the reactor first
    stream_ = std::make_unique<StreamConneciton>(handle, key, hwDecoder, reactor_, hub_, audioSinks, videoSinks);
    return true;
}

void StreamIProxyConnection::timerEvent(QTimerEvent* event) {
    if (event->timerId() == listTimerId_ && !command_) ListDevices();
}

void StreamIProxyConnection::ListDevices() {
    std::string error;
    const std::vector<std::string> udids = IProxyListDevices(error);
    if (!error.empty()) {
        if (!listErrorLogged_) LOG_E("iproxy list device error: %s", error.c_str());
        listErrorLogged_ = true;
    } else {
        listErrorLogged_ = false;
    }
    QStringList devices;
    for (const std::string& udid : udids) devices << QString::fromUtf8(udid.c_str());
    if (hub_ != nullptr) emit hub_->UsbDeviceList(devices);
}
