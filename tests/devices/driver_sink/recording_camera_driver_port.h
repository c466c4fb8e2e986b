// A camera driver port that keeps a copy of every frame written to it, can
// refuse to open, fail writes, or hold each write until the test lets it
// go (a slow driver). Owned by the sink under test; the test keeps a plain
// pointer to it for the sink's lifetime.
#pragma once

#include <QMutex>
#include <QWaitCondition>
#include <cstdint>
#include <vector>

#include "devices/driver_sink/camera_driver_port.h"

namespace zucam::test {

class RecordingCameraDriverPort final : public CameraDriverPort {
public:
    bool Open() override;
    bool Write(const uint8_t* frame, size_t length) override;
    void Close() override;

    // Test thread, before OpenCamera.
    void SetOpenResult(bool result);
    // The next count writes are recorded and then refused.
    void FailNextWrites(int count);
    // While held, every write is recorded and then waits for ReleaseWrites.
    void HoldWrites();
    void ReleaseWrites();

    // Waits until count writes have been recorded, at most limitMs (the
    // default is for writes that must come; a short limit checks that
    // none comes, which can miss a late write but never fails wrongly).
    bool WaitForWrites(size_t count, unsigned long limitMs = 10000);
    std::vector<std::vector<uint8_t>> writes() const;
    int opens() const;
    // Writes that came while the port was closed: always a fault.
    int writesWhileClosed() const;

private:
    mutable QMutex mutex_;  // guards everything below
    QWaitCondition changed_;
    bool openResult_ = true;
    bool open_ = false;
    int opens_ = 0;
    int failures_ = 0;
    bool held_ = false;
    int writesWhileClosed_ = 0;
    std::vector<std::vector<uint8_t>> writes_;
};

}  // namespace zucam::test
