// The thread that feeds the shared-memory camera queue: while output is
// enabled, it copies every new picture of its render device into the next
// slot as soon as it is pushed and the slot is out of its readers' margin
// (40 ms after that slot's last publication; see SharedMemoryCameraQueue),
// and announces the newest picture again whenever 20 ms have passed without
// a publication, so the queue advances at least every 20 ms (the heartbeat
// by which readers see a live writer) whether or not new pictures arrive.
// A picture that comes while the next slot is inside its margin waits; one
// newer still replaces it (the render device keeps only the newest), and
// the newest is written the moment the margin ends. While it waits there is
// no heartbeat (an announcement would start the ready slot's margin again),
// so publications are then up to 40 ms apart.
//
// Ownership: owns the render device (which the main window puts into the
// render output's sink list, and takes out again before this object goes)
// and the queue writer, which is absent when the queue cannot be opened; the
// thread then runs and writes nothing.
//
// Threads: EnableOutput and DisableOutput run on the GUI thread and only set
// flags. The queue, its state word included, is written by this object's
// thread alone: it publishes "stopped" on the first tick after a disable.
#pragma once

#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "vexo/gs_clock.h"
#include "video_sink/stream_render_device.h"

class CameraRawWriter final : public QThread {
public:
    static constexpr int kPeriodMs = 20;

    // Opens the queue under queueName (tests pass a name of their own) with
    // room for a 2560 x 1440 picture and starts the thread, which keeps its
    // times on clock (the steady clock when none is given; tests pass a
    // manual one).
    explicit CameraRawWriter(const std::string& queueName = SharedMemoryCameraQueue::kDefaultName,
                             std::unique_ptr<GsClock> clock = nullptr);
    // Stops and joins the thread, then closes the queue ("stopped").
    ~CameraRawWriter() override;
    CameraRawWriter(const CameraRawWriter&) = delete;
    CameraRawWriter& operator=(const CameraRawWriter&) = delete;

    // Starts writing (the first picture of a connection arrived). The render
    // device's picture from an earlier connection is blanked first, so that
    // it never shows again in the new one.
    void EnableOutput();
    // Stops writing (disconnection); the thread then publishes "stopped".
    void DisableOutput();

    bool hasQueue() const { return queue_ != nullptr; }
    // Writes the queue refused inside the readers' margin (none: the thread
    // waits for it); 0 without a queue. Read once the thread is idle.
    uint32_t writesHeldBack() const { return queue_ ? queue_->writesHeldBack() : 0; }

    const std::unique_ptr<StreamRenderDevice> renderDevice;

protected:
    void run() override;

private:
    const std::unique_ptr<GsClock> clock_;                   // the thread sleeps on it; pushes wake it
    const std::unique_ptr<SharedMemoryCameraQueue> queue_;  // may be null
    std::atomic<bool> outputEnabled_{false};                 // set on the GUI thread, read by run

    std::mutex stopMutex_;  // guards stopRequested_ and freshPicture_
    bool stopRequested_ = false;
    bool freshPicture_ = false;  // pushed since the last write
};
