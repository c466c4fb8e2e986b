#include "devices/camera_queue/camera_raw_writer.h"

#include <chrono>
#include <utility>

#include "video_sink/stream_render_device_impl.h"

CameraRawWriter::CameraRawWriter(const std::string& queueName)
    : renderDevice(StreamRenderDeviceImpl::Create([this] {
          {
              const std::lock_guard<std::mutex> lock(stopMutex_);
              freshPicture_ = true;
          }
          stopChanged_.notify_all();
      })),
      queue_(SharedMemoryCameraQueue::CreateWriter(queueName, kCameraQueueFrameCapacity)) {
    start(QThread::InheritPriority);
}

CameraRawWriter::~CameraRawWriter() {
    {
        const std::lock_guard<std::mutex> lock(stopMutex_);
        stopRequested_ = true;
    }
    stopChanged_.notify_all();
    wait();
    // queue_ closes ("stopped") and renderDevice goes with the members.
}

void CameraRawWriter::EnableOutput() {
    if (renderDevice->enabled) return;
    // Until the new connection's first picture is pushed, the queue shows
    // black rather than where the last connection left off.
    renderDevice->ShowBlack();
    renderDevice->enabled = true;
    outputEnabled_.store(true);
}

void CameraRawWriter::DisableOutput() {
    outputEnabled_.store(false);
    renderDevice->enabled = false;
}

void CameraRawWriter::run() {
    using Clock = std::chrono::steady_clock;
    constexpr auto kPeriod = std::chrono::milliseconds(kPeriodMs);
    bool stopStatePending = false;  // written since the last "stopped"
    auto nextTick = Clock::now() + kPeriod;

    std::unique_lock<std::mutex> lock(stopMutex_);
    while (!stopRequested_) {
        stopChanged_.wait_until(lock, nextTick, [this] { return stopRequested_ || freshPicture_; });
        if (stopRequested_) break;
        const bool fresh = std::exchange(freshPicture_, false);
        if (!fresh && Clock::now() < nextTick) continue;
        lock.unlock();

        if (outputEnabled_.load()) {
            renderDevice->WriteTo(queue_.get());
            stopStatePending = true;
        } else if (stopStatePending) {
            if (queue_) queue_->SetState(kCameraQueueStopped);
            stopStatePending = false;
        }

        // The heartbeat: a fixed period after the last write, not a fixed
        // sleep; a new picture is a write of its own. After a long stall (a
        // suspended machine) the schedule starts again from now.
        const auto now = Clock::now();
        nextTick = fresh ? now + kPeriod : nextTick + kPeriod;
        if (nextTick < now) nextTick = now + kPeriod;
        lock.lock();
    }
}
