#include "stream_manager.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>
#include <QTimer>
#include <QUuid>
#include <cstdio>
#include <json/json.h>
#include <optional>

#include "audio_sink/stream_audio_sink_cache.h"
#include "core/system/probe_write.h"
#include "core/tether/tq_log.h"
#include "iproxy/stream_iproxy_connection.h"
#include "parser/command_json.h"
#include "recorder/stream_recorder.h"
#include "adb/adb_program.h"
#include "server/stream_adb_server.h"
#include "server/stream_server.h"
#include "socket/async_reactor.h"
#include "stream_host.h"

namespace {

constexpr uint16_t kWifiBasePort = 10080;
constexpr uint16_t kAdbBasePort = 11080;
// A failed start of the Android transport (its port taken, say) is tried
// again this often, this long apart, before the hub gives up and says so.
constexpr int kAdbStartRetries = 5;
constexpr int kAdbStartRetryDelayMs = 1000;
constexpr uint16_t kIosPhoneCommandPort = 10080;

enum StreamCommandType : int {
    kCommandHello = 0,
    kCommandDisconnect = 2,
    kCommandScreenShot = 4,
    kCommandRecord = 5,
    kCommandDisconnectDelay = 6,
    kCommandVideoState = 7,
    kCommandAudioState = 8,
    kCommandDeviceName = 1001,
};

Json::Value ReplyEnvelope(const Json::Value& data) {
    Json::Value message(Json::objectValue);
    message["type"] = 0;
    message["data"] = data;
    message["version"] = "1.0";
    return message;
}

// A member the phone sent in a kind that cannot be read: the phone broke
// the protocol and the channel closes.
bool WrongKind(const char* command, const char* member) {
    LOG_E("cmd %s: member %s has the wrong kind, close connection.\n", command, member);
    return false;
}

// A port number from the phone: 0 (none, also when missing) or a real port.
bool ReadPort(const Json::Value& data, const char* member, int* port) {
    const std::optional<int> value = ReadIntMember(data, member, 0);
    if (!value) return WrongKind("hello", member);
    if (*value < 0 || *value > 65535) {
        LOG_E("hello: port %s=%d is out of range\n", member, *value);
        return false;
    }
    *port = *value;
    return true;
}

// data.type of the record and state commands; 0 when missing.
std::optional<int> ReadSubType(const Json::Value& data, const char* command) {
    const std::optional<int> type = ReadIntMember(data, "type", 0);
    if (!type) WrongKind(command, "type");
    return type;
}

}  // namespace

StreamManager::StreamManager(const std::vector<StreamAudioSink*>& audioSinks,
                             const std::vector<StreamVideoSink*>& videoSinks,
                             StreamVideoSinkCache* recorderVideoCache, const StreamHost* host)
    : host_(host),
      recorderAudioCache_(StreamAudioSinkCache::Create(48000, 2, 200, StreamAudioSinkCache::kSampleTypeFloat)),
      audioSinks_(audioSinks),
      videoSinks_(videoSinks),
      recorderVideoCache_(recorderVideoCache),
      reactor_(std::make_unique<AsyncReactor>()) {
    audioSinks_.push_back(recorderAudioCache_.get());
    moveToThread(this);
    start();
    QMetaObject::invokeMethod(this, "ProbeHardwareCodec", Qt::AutoConnection);
}

StreamManager::~StreamManager() {
    // Queued before the quit, so a recording is closed properly on the hub's
    // thread before its event loop ends.
    StopRecord();
    QMetaObject::invokeMethod(this, "quit", Qt::AutoConnection);
    wait();
}

void StreamManager::run() {
    exec();
    // Still on the hub's thread: the transport and its sockets go first, then
    // the reactor that polled them.
    receiver_.reset();
    reactor_.reset();
    delete adbRetryTimer_;  // a timer stops on its own thread
    adbRetryTimer_ = nullptr;
    delete probe_;
    probe_ = nullptr;
}

void StreamManager::timerEvent(QTimerEvent* /*event*/) {}

void StreamManager::Start(int transport) {
    const char* slot = "StartNetServer";
    if (transport == kStreamTransportAndroid) slot = "StartAdbServer";
    if (transport == kStreamTransportIos) slot = "StartIProxyConnection";
    // By name, as every call onto the hub's thread: the queued call then
    // carries copies of its arguments and no functor for the caller's thread
    // to free after the hub's thread ran it.
    QMetaObject::invokeMethod(this, "SetTransportInternal", Qt::AutoConnection, Q_ARG(int, transport));
    QMetaObject::invokeMethod(this, slot, Qt::AutoConnection);
}

void StreamManager::SetTransportInternal(int transport) { transport_ = transport; }

void StreamManager::CloseManager() { QMetaObject::invokeMethod(this, "CloseManagerInternal", Qt::AutoConnection); }

void StreamManager::ConnectDevice(const QString& serial) {
    QMetaObject::invokeMethod(this, "ConnectDeviceInternal", Qt::AutoConnection, Q_ARG(QString, serial));
}

void StreamManager::SetDeviceName(const QString& name) {
    QMetaObject::invokeMethod(this, "SetDeviceNameInternal", Qt::AutoConnection, Q_ARG(QString, name));
}

void StreamManager::StartRecord() { QMetaObject::invokeMethod(this, "StartRecordInternal", Qt::AutoConnection); }

void StreamManager::StopRecord() { QMetaObject::invokeMethod(this, "StopRecordInternal", Qt::AutoConnection); }

void StreamManager::HandleCommand(const std::string& json, uint64_t connection) {
    const QString text = QString::fromUtf8(json.data(), static_cast<int>(json.size()));
    QMetaObject::invokeMethod(this, "HandleCommandInternal", Qt::AutoConnection, Q_ARG(QString, text),
                              Q_ARG(quint64, connection));
}

void StreamManager::HandleEvent(int event, uint64_t connection) {
    QMetaObject::invokeMethod(this, "HandleEventInternal", Qt::AutoConnection, Q_ARG(int, event),
                              Q_ARG(quint64, connection));
}

void StreamManager::VideoArrive(int width, int height) {
    QMetaObject::invokeMethod(this, "OnVideoArrive", Qt::AutoConnection, Q_ARG(int, width), Q_ARG(int, height));
}

void StreamManager::VideoResolutionChanged(int width, int height) {
    QMetaObject::invokeMethod(this, "OnVideoResolutionChanged", Qt::AutoConnection, Q_ARG(int, width),
                              Q_ARG(int, height));
}

void StreamManager::ReplaceReceiver(std::unique_ptr<StreamReceiver> receiver) {
    // Another transport (or a new start) ends a pending retry of the Android one.
    if (adbRetryTimer_ != nullptr) adbRetryTimer_->stop();
    // The old transport closes its sockets before the new one binds its ports.
    receiver_.reset();
    receiver_ = std::move(receiver);
}

void StreamManager::StartNetServer() {
    auto server = std::make_unique<StreamServer>(kWifiBasePort, reactor_.get(), this);
    server->name = deviceName_.toStdString();
    ReplaceReceiver(std::move(server));
    fprintf(stderr, receiver_->Start() ? "net server start success\n" : "net server start failed\n");
}

void StreamManager::StartAdbServer() {
    adbStartRetries_ = 0;
    TryStartAdbServer();
}

void StreamManager::TryStartAdbServer() {
    // The old transport and its adb runs go first; then whatever of our own
    // adb is left (a stuck client, the server our copy started) is ended.
    receiver_.reset();
    TerminateOwnAdbProcesses(OwnAdbProgramPath());
    ReplaceReceiver(std::make_unique<StreamAdbServer>(kAdbBasePort, reactor_.get(), this));
    if (receiver_->Start()) {
        fprintf(stderr, "adb server start success\n");
        return;
    }
    fprintf(stderr, "adb server start failed\n");
    // A server that does not listen must not map the phone to a port that
    // someone else holds.
    receiver_.reset();
    TerminateOwnAdbProcesses(OwnAdbProgramPath());
    if (adbStartRetries_ >= kAdbStartRetries) {
        LOG_E("adb server start failed %d times; giving up", adbStartRetries_ + 1);
        emit Error(tr("安卓 USB 连接无法启动：端口 %1 无法监听").arg(kAdbBasePort));
        return;
    }
    ++adbStartRetries_;
    LOG_W("adb server start failed; retry %d of %d in %d ms", adbStartRetries_, kAdbStartRetries,
          kAdbStartRetryDelayMs);
    if (adbRetryTimer_ == nullptr) {
        // Made here, on the hub's thread, so that it fires there.
        adbRetryTimer_ = new QTimer(this);
        adbRetryTimer_->setSingleShot(true);
        connect(adbRetryTimer_, &QTimer::timeout, this, &StreamManager::TryStartAdbServer);
    }
    adbRetryTimer_->start(kAdbStartRetryDelayMs);
}

void StreamManager::StartIProxyConnection() {
    ReplaceReceiver(std::make_unique<StreamIProxyConnection>(kIosPhoneCommandPort, reactor_.get(), this));
    fprintf(stderr, receiver_->Start() ? "iproxy start success\n" : "iproxy start failed\n");
}

void StreamManager::CloseManagerInternal() {
    if (adbRetryTimer_ != nullptr) adbRetryTimer_->stop();
    std::unique_ptr<StreamReceiver> receiver = std::move(receiver_);
    receiver.reset();
}

void StreamManager::HandleEventInternal(int event, quint64 connection) {
    // Queued reports outlive their connection: a "connection lost" left over
    // from a session already closed must not end the phone's next one.
    if (receiver_ && !receiver_->IsCurrentConnection(connection)) return;
    if (event == kStreamEventReceiverClosed) {
        ShutdownConnection();
    } else if (receiver_) {
        receiver_->HandleEvent(event);
    }
}

void StreamManager::ConnectDeviceInternal(QString serial) {
    if (receiver_) receiver_->ConnectDevice(serial.toStdString());
}

void StreamManager::SetDeviceNameInternal(QString name) {
    deviceName_ = name;
    if (receiver_) receiver_->name = name.toStdString();
}

void StreamManager::ShutdownConnection() {
    if (helloSeen_) {
        if (disconnectExpected_) {
            emit OnDisconnectedDelay();
        } else {
            emit OnDisconnected();
        }
        if (recorder_) StopRecord();
    }
    helloSeen_ = false;
}

void StreamManager::CloseChannel() {
    if (receiver_) receiver_->Close();
}

void StreamManager::SendReply(const Json::Value& message) {
    if (receiver_) receiver_->SendCommand(Json::FastWriter().write(message));
}

void StreamManager::HandleCommandInternal(QString cmd, quint64 connection) {
    // A command queued by a connection that has since been closed belongs to
    // nobody: answering it would answer the next phone.
    if (receiver_ && !receiver_->IsCurrentConnection(connection)) return;
    // Only a JSON object with an integer "type" is a command: a missing or
    // other kind of "type" is not taken for a hello.
    CommandEnvelope message;
    if (!ReadCommandEnvelope(cmd.toStdString(), &message)) {
        LOG_E("cmd json parse failed\n");
        CloseChannel();
        return;
    }

    bool keep = true;
    try {
        const Json::Value& data = message.data;
        switch (message.type) {
        case kCommandHello:
            helloSeen_ = true;
            keep = HandleHello(data);
            break;
        case kCommandDisconnect: keep = HandleDisconnect(data); break;
        case kCommandScreenShot: keep = HandleScreenShot(data); break;
        case kCommandRecord: keep = HandleRecord(data); break;
        case kCommandDisconnectDelay: disconnectExpected_ = true; break;
        case kCommandVideoState: keep = HandleVideoState(data); break;
        case kCommandAudioState: keep = HandleAudioState(data); break;
        case kCommandDeviceName: AnswerDeviceName(); break;
        default: break;  // other types are ignored
        }
    } catch (const std::exception& e) {
        LOG_E("cmd parse catch exception %s, close connection.\n", e.what());
        keep = false;
    }
    if (!keep) CloseChannel();
}

bool StreamManager::HandleHello(Json::Value data) {
    const std::optional<std::string> name = ReadStringMember(data, "name", std::string());
    if (!name) return WrongKind("hello", "name");
    int udpPort = 0;
    int phonePort = 0;
    const bool iproxy = receiver_ && receiver_->IsIProxy();
    if (iproxy ? !ReadPort(data, "iproxyPort", &phonePort) : !ReadPort(data, "udpPort", &udpPort)) return false;
    const std::optional<int> fps = ReadIntMember(data, "fps", 30);
    const std::optional<int> width = ReadIntMember(data, "width", 240);
    const std::optional<int> height = ReadIntMember(data, "height", 320);
    if (!fps) return WrongKind("hello", "fps");
    if (!width) return WrongKind("hello", "width");
    if (!height) return WrongKind("hello", "height");

    connectionKey_ = QUuid::createUuid().toString().toStdString();
    const bool udp = udpPort != 0;
    if (!receiver_ || !receiver_->OpenVideoReceiver(udp, static_cast<uint16_t>(phonePort), connectionKey_,
                                                    hardwareDecoder_, audioSinks_, videoSinks_)) {
        LOG_E("start stream receiver failed\n");
        return false;
    }
    uint16_t audioPort = 0;
    if (!udp && receiver_->OpenAudioReceiver(false, 0, connectionKey_, audioSinks_)) {
        audioPort = receiver_->GetAudioPort();
    }

    Json::Value reply(Json::objectValue);
    const uint16_t videoPort = receiver_->GetVideoPort();
    reply["port"] = videoPort;
    reply["key"] = connectionKey_;
    reply["bite_rate"] = 4;
    if (udp) reply["udpPort"] = videoPort;
    if (audioPort != 0) reply["audio_port"] = audioPort;
    SendReply(ReplyEnvelope(reply));
    // A failed send closes the receiver at once, and with it this phone
    // connection (helloSeen_ cleared): a closed connection is not announced.
    if (!helloSeen_) {
        LOG_E("hello reply not sent; the connection is closed");
        return true;
    }

    disconnectExpected_ = false;
    emit OnNewConnection(QString::fromStdString(*name), *fps, *width, *height);
    return true;
}

bool StreamManager::HandleDisconnect(Json::Value /*data*/) {
    SendReply(ReplyEnvelope(Json::Value()));
    return false;  // the channel closes once the reply is on its way
}

bool StreamManager::HandleScreenShot(Json::Value /*data*/) {
    SendReply(ReplyEnvelope(Json::Value()));
    emit ScreenShot();
    return true;
}

bool StreamManager::HandleRecord(Json::Value data) {
    const std::optional<int> type = ReadSubType(data, "record");
    if (!type) return false;
    bool state = false;
    switch (*type) {
    case 0:
        StopRecord();
        break;
    case 1:
        state = true;
        StartRecord();
        break;
    case 2: state = recorder_ != nullptr; break;
    default: return false;
    }
    // On the hub's thread StartRecord and StopRecord ran at once: "state" is
    // the requested state; the outcome follows as a signal.
    data["state"] = state;
    data["vstate"] = host_ != nullptr && host_->VideoTransportOn();
    data["astate"] = host_ != nullptr && host_->VirtualMicOpen();
    data["ainstall"] = host_ != nullptr && host_->AudioDriverInstalled();
    SendReply(ReplyEnvelope(data));
    return true;
}

bool StreamManager::HandleVideoState(Json::Value data) {
    const std::optional<int> state = ReadSubType(data, "video state");
    if (state != 0 && state != 1) return false;
    emit OnSwitchVideoTransport(state == 1);
    return true;
}

bool StreamManager::HandleAudioState(Json::Value data) {
    const std::optional<int> state = ReadSubType(data, "audio state");
    if (state != 0 && state != 1) return false;
    emit OnSwitchAudioTransport(state == 1);
    return true;
}

void StreamManager::AnswerDeviceName() {
    Json::Value answer(Json::objectValue);
    answer["type"] = kCommandDeviceName;
    answer["version"] = "1.0";
    answer["name"] = deviceName_.toStdString();
    SendReply(answer);
}

void StreamManager::StartRecordInternal() {
    if (!receiver_ || recorder_) return;
    const QString folder = host_ != nullptr ? host_->RecordingFolder() : QString();
    if (folder.isEmpty() || !QFile::exists(folder)) {
        emit RecordStartFailed(tr("输出目录不存在，请前往设置页面重新设置"));
        return;
    }
    const QString stamp = QString::fromUtf8(g_cd->system->formatNow("%Y%m%d%H%M%S"));
    const QString path =
        folder + (folder.endsWith('/') ? "" : "/") + QString("ZuCam_recoder[%1].mp4").arg(stamp, 0, QChar(' '));

    // The write test leaves a file of the user's that carries the probe's
    // name as it is.
    if (!ProbeWrite(QFile::encodeName(path + ".txt").toStdString())) {
        emit RecordStartFailed(tr("输出目录无法写入，请前往设置页面重新设置"));
        return;
    }

    recorder_ = CreateStreamRecorder(recorderAudioCache_.get(), recorderVideoCache_, this);
    if (!recorder_) {
        LOG_D("---------> creat record failed");
        // Without a recorder nothing else would ever answer the request.
        emit RecordStartFailed(tr("录制失败"));
        return;
    }
    if (recorder_->Start(path.toStdString())) {
        LOG_D("---------> start record success");
        emit RecordStartSuccess();
    } else {
        LOG_D("---------> start record failed");
        const bool nameTaken = recorder_->startError() == StreamRecorder::StartError::kNameTaken;
        recorder_->Stop();
        recorder_.reset();
        // Something already at the recording's name (in a folder others can
        // write, perhaps a planted link) was left alone: the user is told.
        emit RecordStartFailed(nameTaken ? tr("输出目录中已有同名的文件或链接，录制未开始：\n%1").arg(path)
                                         : tr("录制失败"));
    }
}

void StreamManager::StopRecordInternal() {
    // A recording that outlived its transport is still closed properly.
    if (!recorder_) return;
    const QString path = QString::fromStdString(recorder_->GetFilePath());
    recorder_->Stop();
    recorder_.reset();
    LOG_D("---------> stop success");
    emit RecordStoped(path);
}

void StreamManager::ProbeHardwareCodec() {
    probe_ = new QProcess(this);
    connect(probe_, &QProcess::started, this, [] { LOG_D("hw_probe started"); });
    connect(probe_, &QProcess::errorOccurred, this, &StreamManager::OnProbeError);
    connect(probe_, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int exitCode, QProcess::ExitStatus) { OnProbeFinished(exitCode); });
    const QString folder = QCoreApplication::applicationDirPath();
    const QString program = folder + "/hw_probe";
    probe_->setWorkingDirectory(folder);
    LOG_D("executing hw_probe %s", program.toUtf8().constData());
    probe_->start(program, QStringList(), QIODevice::ReadWrite);
}

void StreamManager::OnProbeError(QProcess::ProcessError error) {
    LOG_D("hw_probe error occurred %d", static_cast<int>(error));
    if (error == QProcess::FailedToStart && probe_ != nullptr) {
        probe_->deleteLater();
        probe_ = nullptr;
    }
}

void StreamManager::OnProbeFinished(int exitCode) {
    if (probe_ == nullptr) return;
    const QByteArray output = probe_->readAllStandardOutput();
    const QByteArray errors = probe_->readAllStandardError();
    probe_->deleteLater();
    probe_ = nullptr;
    LOG_I("hw probe stderrr: %s", errors.constData());
    LOG_I("probe hardware codec: %s", output.constData());
    if (exitCode != 0) return;

    // A line break after the names is not part of the decoder's name.
    const QList<QByteArray> parts = output.trimmed().split('|');
    if (parts.size() != 2) return;
    hardwareEncoder_ = parts[0] == "null" ? std::string() : parts[0].toStdString();
    hardwareDecoder_ = parts[1] == "null" ? std::string() : parts[1].toStdString();
    if (!hardwareEncoder_.empty()) LOG_I("hardware encoder: %s is avaliable", hardwareEncoder_.c_str());
    if (!hardwareDecoder_.empty()) LOG_I("hardware decoder: %s is avaliable", hardwareDecoder_.c_str());
}
