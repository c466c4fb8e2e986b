#include "server/stream_adb_server.h"

#include <QTimerEvent>
#include <algorithm>
#include <iterator>

#include "adb/adb_device_list.h"
#include "adb/adb_process.h"
#include "adb/adb_program.h"
#include "core/tether/tq_log.h"

using qsc::AdbProcess;

StreamAdbServer::StreamAdbServer(uint16_t port, AsyncReactor* reactor, StreamManager* hub)
    : StreamServer(port, reactor, hub), adbTimeoutMs_(AdbProcess::kDefaultTimeoutMs) {
    adbPath_ = PrepareOwnAdbProgram();
    pollTimerId_ = startTimer(kPollIntervalMs, Qt::CoarseTimer);
}

StreamAdbServer::~StreamAdbServer() {
    if (pollTimerId_ != 0) killTimer(pollTimerId_);
    pollTimerId_ = 0;
    // Runs still going end with their wrappers (children of this object),
    // without reporting.
}

void StreamAdbServer::timerEvent(QTimerEvent* event) {
    if (event->timerId() == pollTimerId_) {
        if (!videoPortMapped_) PollDevices();
        return;
    }
    StreamServer::timerEvent(event);
}

AdbProcess* StreamAdbServer::NewAdbProcess() {
    AdbProcess::setAdbPath(adbPath_);
    auto* process = new AdbProcess(this);
    process->setTimeout(adbTimeoutMs_);
    return process;
}

void StreamAdbServer::PollDevices() {
    // A poll still running (adb starting its server, or hung until its
    // deadline) is not joined by another.
    if (poll_) return;
    AdbProcess* process = NewAdbProcess();
    poll_ = process;
    connect(process, &AdbProcess::adbProcessResult, this,
            [this, process](AdbProcess::ADB_EXEC_RESULT result) { ParseAdbDevices(process, result); });
    process->execute(QString(), {QStringLiteral("devices"), QStringLiteral("-l")});
}

void StreamAdbServer::ParseAdbDevices(AdbProcess* process, int result) {
    if (result == AdbProcess::AER_SUCCESS_START) return;
    process->deleteLater();
    if (poll_ == process) poll_.clear();
    if (result != AdbProcess::AER_SUCCESS_EXEC) return;

    std::vector<AdbDevice> usable;
    for (const AdbDevice& device : ParseAdbDeviceList(process->getStdOut())) {
        if (device.usable()) usable.push_back(device);
    }
    if (!currentSerial_.isEmpty()) {
        bool attached = false;
        for (const AdbDevice& device : usable) {
            if (device.serial != currentSerial_) continue;
            // A new attachment number: the phone was replugged, and its
            // mappings went with the old attachment.
            attached = device.transportId == currentTransportId_;
            break;
        }
        if (attached) return;  // still there, still mapped
        LOG_I("adb device %s is gone or was replugged", qUtf8Printable(currentSerial_));
        currentSerial_.clear();
        currentTransportId_.clear();
    }
    ++pollNumber_;
    // What is known of a device lasts while it stays listed on the same
    // attachment: one that left, or was replugged, starts afresh.
    for (auto entry = tries_.begin(); entry != tries_.end();) {
        const bool listed = std::any_of(usable.begin(), usable.end(), [&](const AdbDevice& device) {
            return device.serial == entry->first && device.transportId == entry->second.transportId;
        });
        entry = listed ? std::next(entry) : tries_.erase(entry);
    }
    if (usable.empty() || commandMapping_) return;
    // Of the devices whose back-off is over, the one tried least recently
    // (never tried first, then in list order): devices that cannot be
    // mapped take turns with the others instead of keeping them out.
    const AdbDevice* chosen = nullptr;
    quint64 chosenLastTry = 0;
    for (const AdbDevice& device : usable) {
        const auto known = tries_.find(device.serial);
        const quint64 lastTry = known == tries_.end() ? 0 : known->second.lastTryPoll;
        if (known != tries_.end() && known->second.nextTryPoll > pollNumber_) continue;
        if (chosen == nullptr || lastTry < chosenLastTry) {
            chosen = &device;
            chosenLastTry = lastTry;
        }
    }
    if (chosen == nullptr) return;  // every listed device waits out its back-off
    DeviceTries& tries = tries_[chosen->serial];
    tries.transportId = chosen->transportId;
    tries.lastTryPoll = pollNumber_;
    ReverseCommandPort(chosen->serial, chosen->transportId);
}

void StreamAdbServer::ReverseCommandPort(const QString& serial, const QString& transportId) {
    AdbProcess* process = NewAdbProcess();
    commandMapping_ = process;
    connect(process, &AdbProcess::adbProcessResult, this,
            [this, process, serial, transportId](AdbProcess::ADB_EXEC_RESULT result) {
                if (result == AdbProcess::AER_SUCCESS_START) return;
                process->deleteLater();
                if (commandMapping_ == process) commandMapping_.clear();
                if (result != AdbProcess::AER_SUCCESS_EXEC) {
                    LOG_W("adb reverse for %s failed (%d): %s", qUtf8Printable(serial), static_cast<int>(result),
                          qUtf8Printable(process->getErrorOut()));
                    const auto known = tries_.find(serial);
                    if (known != tries_.end()) {
                        DeviceTries& tries = known->second;
                        tries.failures = std::min(tries.failures + 1, 30);
                        // 1, 2, 4, 8, then every 16 polls.
                        const quint64 wait = std::min<quint64>(quint64{1} << (tries.failures - 1), kMaxBackoffPolls);
                        tries.nextTryPoll = pollNumber_ + wait;
                    }
                    return;
                }
                // Only a device whose port is really mapped becomes current.
                currentSerial_ = serial;
                currentTransportId_ = transportId;
                tries_.erase(serial);
                LOG_I("adb device %s: phone port %d reaches port %d", qUtf8Printable(serial), kPhoneCommandPort,
                      basePort_);
            });
    process->reverse(serial, kPhoneCommandPort, basePort_);
}

bool StreamAdbServer::OpenVideoReceiver(bool udp, uint16_t port, const std::string& key, const std::string& hwDecoder,
                                        const std::vector<StreamAudioSink*>& audioSinks,
                                        const std::vector<StreamVideoSink*>& videoSinks) {
    if (udp) return false;  // no P2P through the cable
    videoPortMapped_ = true;
    // A new hello: mappings of an earlier one no longer hold its reply.
    ++helloNumber_;
    mediaMappingsRunning_ = 0;
    videoMappingFailed_ = false;
    const bool opened = StreamServer::OpenVideoReceiver(false, port, key, hwDecoder, audioSinks, videoSinks);
    if (opened) ReverseMediaPort(GetVideoPort(), true);
    return opened;
}

bool StreamAdbServer::OpenAudioReceiver(bool udp, uint16_t port, const std::string& key,
                                        const std::vector<StreamAudioSink*>& audioSinks) {
    const bool opened = StreamServer::OpenAudioReceiver(udp, port, key, audioSinks);
    // The reply announces the audio port: the phone must reach it too.
    if (opened && videoPortMapped_) ReverseMediaPort(GetAudioPort(), false);
    return opened;
}

void StreamAdbServer::ReverseMediaPort(uint16_t port, bool video) {
    // A phone that did not come through adb (no mapped device) needs none.
    if (currentSerial_.isEmpty() || port == 0) return;
    AdbProcess* process = NewAdbProcess();
    ++mediaMappingsRunning_;
    const quint64 hello = helloNumber_;
    connect(process, &AdbProcess::adbProcessResult, this,
            [this, process, hello, video](AdbProcess::ADB_EXEC_RESULT result) {
                if (result == AdbProcess::AER_SUCCESS_START) return;
                process->deleteLater();
                if (result != AdbProcess::AER_SUCCESS_EXEC) {
                    LOG_W("adb reverse of the %s port failed (%d): %s", video ? "video" : "audio",
                          static_cast<int>(result), qUtf8Printable(process->getErrorOut()));
                }
                MediaMappingDone(hello, video, result == AdbProcess::AER_SUCCESS_EXEC);
            });
    process->reverse(currentSerial_, port, port);
}

void StreamAdbServer::MediaMappingDone(quint64 hello, bool video, bool ok) {
    if (hello != helloNumber_ || mediaMappingsRunning_ == 0) return;  // a closed or repeated hello
    if (video && !ok) videoMappingFailed_ = true;
    if (--mediaMappingsRunning_ > 0) return;
    if (videoMappingFailed_) {
        // The phone could not reach the video port: it connects again and
        // says hello anew rather than wait for a stream that cannot come.
        LOG_E("the phone's video port could not be mapped; closing its connection");
        DropHeldCommands();
        Close();
        return;
    }
    ReleaseHeldCommands();
}

void StreamAdbServer::SendCommand(const std::string& json) {
    if (mediaMappingsRunning_ == 0) {
        StreamServer::SendCommand(json);
        return;
    }
    if (heldCommands_.size() >= kMaxHeldCommands) {
        LOG_E("the phone sent more than %d commands while its ports were being mapped; closing",
              static_cast<int>(kMaxHeldCommands));
        DropHeldCommands();
        Close();
        return;
    }
    heldCommands_.push_back(json);
}

void StreamAdbServer::ReleaseHeldCommands() {
    std::vector<std::string> held;
    held.swap(heldCommands_);
    for (const std::string& json : held) StreamServer::SendCommand(json);
}

void StreamAdbServer::DropHeldCommands() {
    heldCommands_.clear();
    ++helloNumber_;
    mediaMappingsRunning_ = 0;
    videoMappingFailed_ = false;
}

void StreamAdbServer::HandleEvent(int event) {
    if (event == kStreamEventConnectionLost) videoPortMapped_ = false;
    StreamServer::HandleEvent(event);
}

void StreamAdbServer::Close() {
    // However the connection ends (lost, refused hello, the phone's
    // disconnect), polling resumes and nothing held is sent later.
    DropHeldCommands();
    videoPortMapped_ = false;
    StreamServer::Close();
}
