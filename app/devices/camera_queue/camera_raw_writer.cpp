#include "devices/camera_queue/camera_raw_writer.h"

#include <chrono>
#include <utility>

#include "vexo/gs_steady_clock.h"
#include "video_sink/stream_render_device_impl.h"

CameraRawWriter::CameraRawWriter(const std::string& queueName, std::unique_ptr<GsClock> clock)
    : renderDevice(StreamRenderDeviceImpl::Create([this] {
          {
              const std::lock_guard<std::mutex> lock(stopMutex_);
              freshPicture_ = true;
          }
          clock_->Wake();
      })),
      clock_(clock ? std::move(clock) : std::make_unique<GsSteadyClock>()),
      queue_(SharedMemoryCameraQueue::CreateWriter(queueName, kCameraQueueFrameCapacity)) {
    if (queue_) queue_->KeepReaderMargin(clock_.get());
    start(QThread::InheritPriority);
}

CameraRawWriter::~CameraRawWriter() {
    {
        const std::lock_guard<std::mutex> lock(stopMutex_);
        stopRequested_ = true;
    }
    clock_->Interrupt();
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
    clock_->Wake();
}

void CameraRawWriter::DisableOutput() {
    outputEnabled_.store(false);
    renderDevice->enabled = false;
    clock_->Wake();
}

void CameraRawWriter::run() {
    using Nanos = GsClock::Nanos;
    constexpr Nanos kPeriod = std::chrono::milliseconds(kPeriodMs);
    bool stopStatePending = false;  // written since the last "stopped"
    bool picturePending = false;    // a picture to write (pushed, or one that cannot be announced)
    Nanos nextBeat = clock_->Now() + kPeriod;

    for (;;) {
        const bool enabled = outputEnabled_.load();
        {
            const std::lock_guard<std::mutex> lock(stopMutex_);
            if (stopRequested_) break;
            if (enabled && std::exchange(freshPicture_, false)) picturePending = true;
        }
        const Nanos now = clock_->Now();
        Nanos wakeAt = nextBeat;
        if (!enabled) {
            if (stopStatePending) {
                if (queue_) queue_->SetState(kCameraQueueStopped);
                stopStatePending = false;
            }
            if (now >= nextBeat) nextBeat = now + kPeriod;
            wakeAt = nextBeat;
        } else {
            const bool beatDue = now >= nextBeat;
            if (beatDue && !picturePending) {
                // The heartbeat of an unchanged picture announces the ready
                // slot again and writes none, so it needs no margin; where
                // the queue cannot announce it, the picture is written anew.
                if (queue_ && queue_->RepublishLastFrame()) {
                    stopStatePending = true;
                    nextBeat = now + kPeriod;
                } else {
                    picturePending = true;
                }
            }
            if (picturePending) {
                const Nanos writeAt = queue_ ? queue_->NextWriteAllowedAt() : Nanos::min();
                if (now >= writeAt) {
                    // The newest picture at this moment: one pushed since the
                    // margin began waiting has replaced the older one.
                    renderDevice->WriteTo(queue_.get());
                    picturePending = false;
                    stopStatePending = true;
                    nextBeat = clock_->Now() + kPeriod;
                } else {
                    // Readers still may copy the next slot: the picture waits
                    // for writeAt, at most kReaderMargin after the last
                    // publication. No heartbeat meanwhile: announcing the
                    // ready slot would start its margin again and hold the
                    // picture after this one back too.
                    wakeAt = writeAt;
                }
            }
            if (!picturePending) wakeAt = nextBeat;
        }
        if (!clock_->SleepUntil(wakeAt)) break;
    }
}
