#include "recording_camera_driver_port.h"

namespace zucam::test {

bool RecordingCameraDriverPort::Open() {
    QMutexLocker lock(&mutex_);
    open_ = openResult_;
    if (open_) ++opens_;
    return open_;
}

bool RecordingCameraDriverPort::Write(const uint8_t* frame, size_t length) {
    QMutexLocker lock(&mutex_);
    if (!open_) ++writesWhileClosed_;
    writes_.emplace_back(frame, frame + length);
    changed_.wakeAll();
    while (held_) changed_.wait(&mutex_);
    if (failures_ > 0) {
        --failures_;
        return false;
    }
    return true;
}

void RecordingCameraDriverPort::Close() {
    QMutexLocker lock(&mutex_);
    open_ = false;
}

void RecordingCameraDriverPort::SetOpenResult(bool result) {
    QMutexLocker lock(&mutex_);
    openResult_ = result;
}

void RecordingCameraDriverPort::FailNextWrites(int count) {
    QMutexLocker lock(&mutex_);
    failures_ = count;
}

void RecordingCameraDriverPort::HoldWrites() {
    QMutexLocker lock(&mutex_);
    held_ = true;
}

void RecordingCameraDriverPort::ReleaseWrites() {
    QMutexLocker lock(&mutex_);
    held_ = false;
    changed_.wakeAll();
}

bool RecordingCameraDriverPort::WaitForWrites(size_t count, unsigned long limitMs) {
    QMutexLocker lock(&mutex_);
    QDeadlineTimer deadline(static_cast<qint64>(limitMs));
    while (writes_.size() < count) {
        if (!changed_.wait(&mutex_, deadline)) return writes_.size() >= count;
    }
    return true;
}

std::vector<std::vector<uint8_t>> RecordingCameraDriverPort::writes() const {
    QMutexLocker lock(&mutex_);
    return writes_;
}

int RecordingCameraDriverPort::opens() const {
    QMutexLocker lock(&mutex_);
    return opens_;
}

int RecordingCameraDriverPort::writesWhileClosed() const {
    QMutexLocker lock(&mutex_);
    return writesWhileClosed_;
}

}  // namespace zucam::test
