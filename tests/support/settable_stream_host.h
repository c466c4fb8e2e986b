// A StreamHost whose answers a test sets: the save folder and the three
// flags that the hub puts into its replies. The test writes on its own
// thread while the hub reads on its thread, so a mutex guards the fields.
#pragma once

#include <QString>
#include <mutex>

#include "stream_host.h"

namespace zucam::test {

class SettableStreamHost : public StreamHost {
public:
    void setRecordingFolder(const QString& folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        folder_ = folder;
    }
    void setVideoTransportOn(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        videoTransport_ = on;
    }
    void setVirtualMicOpen(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        virtualMic_ = on;
    }
    void setAudioDriverInstalled(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        audioDriver_ = on;
    }

    QString RecordingFolder() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return folder_;
    }
    bool VideoTransportOn() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return videoTransport_;
    }
    bool VirtualMicOpen() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return virtualMic_;
    }
    bool AudioDriverInstalled() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return audioDriver_;
    }

private:
    mutable std::mutex mutex_;  // guards the four fields below
    QString folder_;
    // The application's values after start-up: the picture is on, the rest off.
    bool videoTransport_ = true;
    bool virtualMic_ = false;
    bool audioDriver_ = false;
};

}  // namespace zucam::test
