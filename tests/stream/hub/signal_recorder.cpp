#include "signal_recorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "stream_manager.h"

namespace zucam::test {

SignalRecorder::SignalRecorder(StreamManager* hub) {
    const auto queued = Qt::QueuedConnection;
    connect(hub, &StreamManager::ShowLocalIpAddr, this, [this](QStringList a) { record("ShowLocalIpAddr", {a}); },
            queued);
    connect(hub, &StreamManager::UsbDeviceList, this, [this](QStringList d) { record("UsbDeviceList", {d}); },
            queued);
    connect(hub, &StreamManager::OnNewConnection, this,
            [this](QString n, int f, int w, int h) { record("OnNewConnection", {n, f, w, h}); }, queued);
    connect(hub, &StreamManager::OnDisconnected, this, [this] { record("OnDisconnected", {}); }, queued);
    connect(hub, &StreamManager::OnDisconnectedDelay, this, [this] { record("OnDisconnectedDelay", {}); }, queued);
    connect(hub, &StreamManager::OnVideoArrive, this, [this](int w, int h) { record("OnVideoArrive", {w, h}); },
            queued);
    connect(hub, &StreamManager::OnVideoResolutionChanged, this,
            [this](int w, int h) { record("OnVideoResolutionChanged", {w, h}); }, queued);
    connect(hub, &StreamManager::RecordStartSuccess, this, [this] { record("RecordStartSuccess", {}); }, queued);
    connect(hub, &StreamManager::RecordStartFailed, this, [this](QString e) { record("RecordStartFailed", {e}); },
            queued);
    connect(hub, &StreamManager::RecordInterrupt, this, [this] { record("RecordInterrupt", {}); }, queued);
    connect(hub, &StreamManager::RecordDurationChanged, this,
            [this](qlonglong ms) { record("RecordDurationChanged", {ms}); }, queued);
    connect(hub, &StreamManager::RecordStoped, this, [this](QString p) { record("RecordStoped", {p}); }, queued);
    connect(hub, &StreamManager::OnSwitchVideoTransport, this,
            [this](bool t) { record("OnSwitchVideoTransport", {t}); }, queued);
    connect(hub, &StreamManager::OnSwitchAudioTransport, this,
            [this](bool t) { record("OnSwitchAudioTransport", {t}); }, queued);
    connect(hub, &StreamManager::ScreenShot, this, [this] { record("ScreenShot", {}); }, queued);
    connect(hub, &StreamManager::Error, this, [this](QString e) { record("Error", {e}); }, queued);
}

void SignalRecorder::record(const QString& name, QVariantList args) {
    signals_.push_back(RecordedSignal{name, std::move(args)});
}

bool SignalRecorder::waitFor(const QString& name, int timeoutMs, int wanted) {
    QElapsedTimer timer;
    timer.start();
    while (count(name) < wanted) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void SignalRecorder::settle(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

int SignalRecorder::count(const QString& name) const {
    int n = 0;
    for (const RecordedSignal& s : signals_) n += s.name == name ? 1 : 0;
    return n;
}

QVariantList SignalRecorder::last(const QString& name) const {
    for (auto it = signals_.rbegin(); it != signals_.rend(); ++it) {
        if (it->name == name) return it->args;
    }
    return {};
}

}  // namespace zucam::test
