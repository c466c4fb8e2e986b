#include "iproxy/stream_iproxy_connection.h"

#include <usbmuxd.h>

#include <QStringList>
#include <QTimerEvent>
#include <cstdio>

#include "core/tether/tq_log.h"
#include "iproxy/iproxy_conneciton.h"
#include "iproxy/iproxy_device.h"
#include "iproxy/iproxy_worker.h"
#include "parser/command_frame.h"
#include "stream_manager.h"

namespace {
constexpr int kPairingDialogPending = -19;
constexpr int kPairingRefused = -18;
}  // namespace

// What a listing on the worker thread found.
struct StreamIProxyConnection::ListResult {
    std::vector<std::string> udids;
    std::string error;
};

// What pairing and connecting on the worker thread got. A handle nobody
// took (its session closed, or the transport went first) is closed with the
// result, on whichever thread lets go of it last.
struct StreamIProxyConnection::ConnectResult {
    int paired = 0;
    std::string error;
    int handle = -1;

    ConnectResult() = default;
    ConnectResult(const ConnectResult&) = delete;
    ConnectResult& operator=(const ConnectResult&) = delete;
    ~ConnectResult() {
        if (handle >= 0) usbmuxd_disconnect(handle);
    }
    int Take() {
        const int taken = handle;
        handle = -1;
        return taken;
    }
};

StreamIProxyConnection::StreamIProxyConnection(uint16_t commandPort, AsyncReactor* reactor, StreamManager* hub)
    : commandPort_(commandPort), reactor_(reactor), hub_(hub), worker_(std::make_unique<IProxyWorker>(this)) {}

StreamIProxyConnection::~StreamIProxyConnection() {
    // First, so that no result comes back to what goes next; a call that
    // hangs is waited for a short while only.
    worker_.reset();
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
    const quint64 session = ++session_;
    auto result = std::make_shared<ConnectResult>();
    const uint16_t port = commandPort_;
    const bool posted = worker_->Post(
        {[udid, port, result] {
             result->paired = IProxyPairDevice(udid, result->error);
             if (result->paired == 0) result->handle = IProxyConnect(udid, port);
         },
         [this, session, udid, result] { CommandConnected(session, udid, *result); }});
    if (!posted && hub_ != nullptr) emit hub_->Error(QString::fromUtf8("与ios设备配对失败"));
}

void StreamIProxyConnection::CommandConnected(quint64 session, const std::string& udid, ConnectResult& result) {
    if (session != session_) return;  // another device was picked, or the transport closed, meanwhile
    if (result.paired != 0) {
        LOG_E("iproxy pair %s failed: %d %s", udid.c_str(), result.paired, result.error.c_str());
        if (hub_ != nullptr) {
            if (result.paired == kPairingDialogPending) {
                emit hub_->Error(QString::fromUtf8("等待用户授权设备配对"));
            } else if (result.paired == kPairingRefused) {
                emit hub_->Error(QString::fromUtf8("用户拒绝拒绝了配对请求"));
            } else {
                emit hub_->Error(QString::fromUtf8("与ios设备配对失败"));
            }
        }
        return;
    }
    if (result.handle < 0) {
        LOG_E("iproxy command connect to %s:%d failed", udid.c_str(), commandPort_);
        if (hub_ != nullptr) {
            emit hub_->Error(QString::fromUtf8(
                "连接ios设备失败，请打开在ios设备上打开Zu虚拟摄像头软件并切换到usb连接模式"));
        }
        return;
    }
    udid_ = udid;
    command_ = std::make_unique<CommandConneciton>(result.Take(), reactor_, hub_);
}

void StreamIProxyConnection::HandleEvent(int event) {
    if (event == kStreamEventConnectionLost) Close();
}

void StreamIProxyConnection::Close() {
    ++session_;  // results still on their way belong to what is closed now
    streamConnectsRunning_ = 0;
    heldCommands_.clear();
    command_.reset();
    stream_.reset();
    if (hub_ != nullptr) hub_->HandleEvent(kStreamEventReceiverClosed);
}

void StreamIProxyConnection::SendCommand(const std::string& json) {
    if (!command_) return;
    if (streamConnectsRunning_ == 0) {
        SendNow(json);
        return;
    }
    // The hello's reply waits for its video connection: a hello naming a
    // port the phone does not serve gets no reply.
    if (heldCommands_.size() >= kMaxHeldCommands) {
        LOG_E("the phone sent more than %d commands while its video connection was being made; closing",
              static_cast<int>(kMaxHeldCommands));
        Close();
        return;
    }
    heldCommands_.push_back(json);
}

void StreamIProxyConnection::SendNow(const std::string& json) {
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
    if (port == 0 || !command_) {
        LOG_E("iproxy stream connect failed");
        return false;
    }
    const quint64 session = session_;
    auto result = std::make_shared<ConnectResult>();
    const bool posted = worker_->Post(
        {[udid = udid_, port, result] { result->handle = IProxyConnect(udid, port); },
         [this, session, result, key, hwDecoder, audioSinks, videoSinks] {
             StreamConnected(session, *result, key, hwDecoder, audioSinks, videoSinks);
         }});
    if (!posted) {
        LOG_E("iproxy stream connect failed");
        return false;
    }
    ++streamConnectsRunning_;
    return true;
}

void StreamIProxyConnection::StreamConnected(quint64 session, ConnectResult& result, const std::string& key,
                                             const std::string& hwDecoder,
                                             const std::vector<StreamAudioSink*>& audioSinks,
                                             const std::vector<StreamVideoSink*>& videoSinks) {
    if (session != session_ || !command_) return;  // the connection it was made for is gone
    --streamConnectsRunning_;
    if (result.handle < 0) {
        LOG_E("iproxy stream connect failed; closing");
        Close();
        return;
    }
    stream_.reset();  // the old connection leaves the reactor first
    stream_ = std::make_unique<StreamConneciton>(result.Take(), key, hwDecoder, reactor_, hub_, audioSinks,
                                                 videoSinks);
    if (streamConnectsRunning_ > 0) return;
    std::vector<std::string> held;
    held.swap(heldCommands_);
    for (const std::string& json : held) SendNow(json);
}

void StreamIProxyConnection::timerEvent(QTimerEvent* event) {
    if (event->timerId() == listTimerId_ && !command_) ListDevices();
}

void StreamIProxyConnection::ListDevices() {
    if (listRunning_) return;
    auto result = std::make_shared<ListResult>();
    listRunning_ = worker_->Post({[result] { result->udids = IProxyListDevices(result->error); },
                                  [this, result] {
                                      listRunning_ = false;
                                      // The list pauses while a command connection stands.
                                      if (!command_) PublishDevices(*result);
                                  }});
}

void StreamIProxyConnection::PublishDevices(const ListResult& result) {
    if (!result.error.empty()) {
        if (!listErrorLogged_) LOG_E("iproxy list device error: %s", result.error.c_str());
        listErrorLogged_ = true;
    } else {
        listErrorLogged_ = false;
    }
    QStringList devices;
    for (const std::string& udid : result.udids) devices << QString::fromUtf8(udid.c_str());
    if (hub_ != nullptr) emit hub_->UsbDeviceList(devices);
}
