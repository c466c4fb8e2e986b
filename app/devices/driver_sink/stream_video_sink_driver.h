// The camera-driver sink: the render output pushes composed YUV420P frames
// (render thread), the sink's own thread hands the newest one to the camera
// driver through its port. Frames that arrive while a write is in progress
// are coalesced into the newest; a slow driver never holds up the render
// thread, which only ever waits for the short frame lock.
//
// OpenCamera and Stop run on the GUI thread (the main window on video start
// and on disconnection); Push, ShowBlack and SetFrame on the render thread.
#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <memory>

#include "devices/driver_sink/camera_driver_port.h"
#include "devices/driver_sink/driver_frame_packer.h"
#include "ffmpeg_handles.h"
#include "video_sink/stream_video_sink.h"

class StreamVideoSinkDriver final : public StreamVideoSink, public QThread {
public:
    explicit StreamVideoSinkDriver(std::unique_ptr<CameraDriverPort> port);
    // Stops the thread and closes the port.
    ~StreamVideoSinkDriver() override;
    StreamVideoSinkDriver(const StreamVideoSinkDriver&) = delete;
    StreamVideoSinkDriver& operator=(const StreamVideoSinkDriver&) = delete;

    // Stops any earlier session, opens the port and starts the writer
    // thread; sets enabled. False when the port cannot be opened: the sink
    // stays closed and drops every frame.
    bool OpenCamera();
    // Ends the session: the writer thread is joined before the port is
    // closed, the pending frame is dropped (a new session never shows the
    // old picture) and enabled is cleared. Safe to call when closed.
    void Stop();
    bool IsOpen() const;

    // YUV420P only, and only while enabled. enabled is the sink family's
    // plain flag, set and cleared here on the GUI thread; the gate that
    // counts is open_, read under the frame lock in SetFrame.
    void Push(AVFrame* frame) override;
    // A black frame of the pending frame's size; nothing without one.
    void ShowBlack() override;
    // Makes frame the pending one and wakes the writer; dropped at once,
    // without waking anyone, while the sink is closed.
    void SetFrame(AVFrame* frame) override;

protected:
    // The writer thread: writes the pending frame each time a new one came,
    // until stopped.
    void run() override;

private:
    void WriteFrame(const AVFrame& frame);

    // Never held together with frameMutex_.
    QMutex deviceMutex_;  // guards every call on port_
    const std::unique_ptr<CameraDriverPort> port_;

    mutable QMutex frameMutex_;  // guards pending_, fresh_, open_ and stop_
    QWaitCondition frameChanged_;  // a new pending frame, or stop_ set
    AVFramePtr pending_;
    bool fresh_ = false;  // pending_ came after the writer's last take
    bool open_ = false;   // between a successful OpenCamera and Stop
    bool stop_ = false;

    std::atomic<bool> rejectionLogged_{false};

    // The writer thread's own (and the destructor's, after the join).
    DriverFramePacker packer_;
    bool writeFailureLogged_ = false;  // until a write succeeds again
    bool refusalLogged_ = false;       // once per session
};
