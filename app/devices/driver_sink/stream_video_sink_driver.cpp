#include "devices/driver_sink/stream_video_sink_driver.h"

#include <utility>

#include "core/tether/tq_log.h"
#include "video_sink/make_black_frame.h"
#include "video_sink/yuv420p_check.h"

StreamVideoSinkDriver::StreamVideoSinkDriver(std::unique_ptr<CameraDriverPort> port) : port_(std::move(port)) {
    setObjectName(QStringLiteral("zu-driver-sink"));
}

StreamVideoSinkDriver::~StreamVideoSinkDriver() { Stop(); }

bool StreamVideoSinkDriver::OpenCamera() {
    Stop();
    bool opened = false;
    {
        QMutexLocker device(&deviceMutex_);
        opened = port_ != nullptr && port_->Open();
    }
    if (!opened) {
        LOG_W("driver sink: no camera driver to write to, the driver camera stays off");
        return false;
    }
    {
        QMutexLocker frames(&frameMutex_);
        open_ = true;
        stop_ = false;
        fresh_ = false;
    }
    enabled = true;
    start(QThread::InheritPriority);
    return true;
}

void StreamVideoSinkDriver::Stop() {
    AVFramePtr dropped;
    {
        QMutexLocker frames(&frameMutex_);
        stop_ = true;
        open_ = false;
        fresh_ = false;
        dropped = std::move(pending_);
    }
    frameChanged_.wakeAll();
    wait();
    // The writer is gone: nobody calls the port any more.
    {
        QMutexLocker device(&deviceMutex_);
        if (port_ != nullptr) port_->Close();
    }
    enabled = false;
}

bool StreamVideoSinkDriver::IsOpen() const {
    QMutexLocker frames(&frameMutex_);
    return open_;
}

void StreamVideoSinkDriver::Push(AVFrame* frame) {
    if (!enabled) return;
    SetFrame(frame);
}

void StreamVideoSinkDriver::ShowBlack() {
    AVFramePtr reference;
    {
        QMutexLocker frames(&frameMutex_);
        if (!open_ || !pending_) return;
        reference = CloneFrame(pending_.get());
    }
    const AVFramePtr black = MakeBlackFrame(reference.get());
    if (black) SetFrame(black.get());
}

void StreamVideoSinkDriver::SetFrame(AVFrame* frame) {
    if (!AcceptYuv420p(frame, "driver", &rejectionLogged_)) return;
    AVFramePtr replaced;
    {
        QMutexLocker frames(&frameMutex_);
        if (!open_) return;
        AVFramePtr clone = CloneFrame(frame);
        if (!clone) return;
        replaced = std::exchange(pending_, std::move(clone));
        fresh_ = true;
    }
    frameChanged_.wakeAll();
    // replaced is freed here, outside the lock.
}

void StreamVideoSinkDriver::run() {
    writeFailureLogged_ = false;
    refusalLogged_ = false;
    for (;;) {
        AVFramePtr next;
        {
            QMutexLocker frames(&frameMutex_);
            // The predicate, not the wake-up, decides: a frame or a stop that
            // came before this wait is not lost.
            while (!stop_ && !fresh_) frameChanged_.wait(&frameMutex_);
            if (stop_) return;
            next = CloneFrame(pending_.get());
            fresh_ = false;
        }
        if (next) WriteFrame(*next);
    }
}

void StreamVideoSinkDriver::WriteFrame(const AVFrame& frame) {
    const DriverFramePacker::Result packed = packer_.Pack(frame);
    if (packed != DriverFramePacker::Result::Packed) {
        if (!refusalLogged_) {
            LOG_W("driver sink: cannot hand a %dx%d frame to the driver (%s)", frame.width, frame.height,
                  packed == DriverFramePacker::Result::TooLarge ? "too large" : "no picture");
            refusalLogged_ = true;
        }
        return;
    }
    bool written = false;
    {
        QMutexLocker device(&deviceMutex_);
        written = port_->Write(packer_.data(), packer_.size());
    }
    if (written) {
        writeFailureLogged_ = false;
    } else if (!writeFailureLogged_) {
        LOG_W("driver sink: the camera driver refused a %dx%d frame", frame.width, frame.height);
        writeFailureLogged_ = true;
    }
}
