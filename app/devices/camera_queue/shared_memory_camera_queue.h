// The writer of the shared-memory camera queue: a POSIX shared-memory object
// (by default /ZuVirtualCameraQueue) with a header and three I420 slots, laid
// out as in camera_queue_layout.h, that the camera filter reads.
//
// One writer per name: the writer holds an exclusive flock on the object for
// its life, so a second writer is refused while the first lives, and an
// object left by a writer that died (the lock went with its process) is taken
// over. Readers take no lock and never stand in a writer's way.
//
// Privacy: the object is owner-only (mode 0600). An existing object is taken
// over only when this user owns it and nobody else may open it; one of this
// user that others may open is replaced by a private one, and one of another
// user is refused.
//
// Readers' margin: a reader that finds a slot ready may copy it without
// checking for a torn copy, for kReaderMargin after its publication. Given a
// clock (KeepReaderMargin), the writer never starts writing into a slot
// sooner than that after the slot was last published, by a write or by an
// announcement; NextWriteAllowedAt says when the next write may start.
//
// Threads: WriteFrame, RepublishLastFrame, SetState and NextWriteAllowedAt
// run on one thread, the writer's (for the program, CameraRawWriter's
// thread); Close and the destructor run once that thread no longer touches
// the queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "video_sink/camera_queue.h"
#include "devices/camera_queue/camera_queue_layout.h"
#include "vexo/gs_clock.h"

class SharedMemoryMapping;

class SharedMemoryCameraQueue final : public CameraQueue {
public:
    static constexpr const char* kDefaultName = "/ZuVirtualCameraQueue";
    // Two periods of the writer's 20 ms heartbeat.
    static constexpr std::chrono::milliseconds kReaderMargin{40};

    enum class OpenResult {
        Created,      // a new object
        Reused,       // an object of the right size that no writer held; re-initialised
        Replaced,     // an object of another size that no writer held; unlinked and made anew
        WriterExists, // another writer holds the name
        NotOwned,     // the name belongs to another user; refused (logged)
        Failed,       // the system refused (logged with errno)
    };

    // A writer of capacity frameBytes per slot under name (a shared-memory
    // name, "/" first), or null when it cannot be opened; the reason is
    // logged once here and stored in *result when given.
    static std::unique_ptr<SharedMemoryCameraQueue> CreateWriter(const std::string& name, uint32_t frameBytes,
                                                                 OpenResult* result = nullptr);

    ~SharedMemoryCameraQueue() override;
    SharedMemoryCameraQueue(const SharedMemoryCameraQueue&) = delete;
    SharedMemoryCameraQueue& operator=(const SharedMemoryCameraQueue&) = delete;

    // Copies one planar 4:2:0 picture into the next slot and publishes it.
    // A frame of zero size, with a negative line, or whose packed planes do
    // not fit the slot capacity is refused (logged the first time), and so
    // is one that comes while the next slot is inside its readers' margin
    // (counted in writesHeldBack; the writer's thread waits for
    // NextWriteAllowedAt, so that never happens there).
    void WriteFrame(const uint8_t* const planes[3], const int strides[3], int width, int height) override;
    // Announces the last written slot again: the counter and the ready index
    // move on by three, which names the same slot, and no byte of the
    // picture is copied. False (nothing changed) before a first write, after
    // a refused one, once stopped, or where the counter would wrap (2^32 is
    // no multiple of three).
    bool RepublishLastFrame() override;
    // Publishes state (a CameraQueueState) with a release store.
    void SetState(uint32_t state);
    // state = stopped, then unmaps and unlinks the name, which lets go of the
    // writer lock. Idempotent; run by the destructor.
    void Close();

    // From now on every write keeps the readers' margin on clock (which
    // outlives the queue); without a clock writes are never held back.
    void KeepReaderMargin(const GsClock* clock);
    // The earliest time on that clock at which the next write may start:
    // kReaderMargin after the publication of the slot it goes to.
    // GsClock::Nanos::min() when the slot was never published (or no clock).
    GsClock::Nanos NextWriteAllowedAt() const;

    const CameraQueueLayout& layout() const { return layout_; }
    uint32_t framesRefused() const { return framesRefused_; }
    uint32_t writesHeldBack() const { return writesHeldBack_; }

private:
    SharedMemoryCameraQueue(std::string name, const CameraQueueLayout& layout,
                            std::unique_ptr<SharedMemoryMapping> mapping);
    CameraQueueHeader* header() const;
    void Initialise();
    // False (and the mapping released, the name unlinked) when closed or
    // when the object is now smaller than the mapping.
    bool StillMapped();
    // The slot the next write goes to: the one after the counter's, as read
    // from the shared header (another program may have moved it).
    int NextSlot() const;
    void NotePublished(int slot);

    const std::string name_;
    const CameraQueueLayout layout_;
    std::unique_ptr<SharedMemoryMapping> mapping_;  // null once closed
    uint32_t framesRefused_ = 0;                    // writer thread only
    bool lastFrameHeld_ = false;  // the slot of readyIndex holds the last WriteFrame's picture; writer thread only
    // The readers' margin; writer thread only.
    const GsClock* clock_ = nullptr;
    uint32_t writesHeldBack_ = 0;
    bool slotPublished_[kCameraQueueSlots] = {};
    GsClock::Nanos publishedAt_[kCameraQueueSlots] = {};
};
