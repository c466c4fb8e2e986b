// The reader of the shared-memory camera queue, the reference for consumers
// (the camera filter; in this program only the tests use it).
//
// Protocol: load readyIndex (acquire), then state (acquire); read only while
// state is "published"; the newest whole slot is readyIndex % 3. The slot is
// copied while the writer may already be filling the next one; the writer
// bumps frameCounter before it touches a slot, so a copy is whole when, after
// it, frameCounter is fewer than three past the readyIndex that was copied.
// (The writer starts writing a slot no sooner than 40 ms after it published
// it, so a copy begun on seeing the slot published and done within that
// time is whole; the check catches a slower reader.)
// (The heartbeat of an unchanged picture moves both on by three, naming the
// same slot untouched; a copy that overlaps it is taken as overwritten, a
// needless retry.)
// Nothing in the header is trusted: offsets and picture sizes are checked
// against the mapping before a byte is read. Only an object of this user
// that no other user may write is opened, and a reader whose object shrank
// (someone truncated it) lets go of its view instead of touching pages that
// are gone: Read then says NoQueue. What stays open is a truncation by this
// same user between that check and the copy, which such a program could as
// well end the reader by other means.
//
// One thread uses a reader at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/camera_queue/camera_queue_layout.h"

class SharedMemoryMapping;

class CameraQueueReader {
public:
    // Called with the slot's planes (Y, U, V), their packed line lengths, the
    // picture size and the caller's pointer. The planes point into the shared
    // area and may be overwritten while the callback copies them; ReadFrame
    // returns false afterwards when that may have happened.
    using FrameCallback = void (*)(const uint8_t* const planes[3], const uint32_t lines[3], uint32_t width,
                                   uint32_t height, void* user);

    enum class ReadResult {
        Frame,       // the callback ran and its copy is whole
        NoQueue,     // nothing mapped (or the object shrank and the view was given up)
        NotPublished,// state fresh, or offsets not usable
        Stopped,     // state stopped
        Stalled,     // readyIndex unchanged for the tenth read in a row
        BadRecord,   // the slot's record describes a picture outside the mapping
        Overwritten, // the writer reached the slot during the copy
    };

    // Opens the queue under name read-only; null when it does not exist, is
    // smaller than its header or cannot be mapped.
    static std::unique_ptr<CameraQueueReader> Open(const std::string& name);

    ~CameraQueueReader();
    CameraQueueReader(const CameraQueueReader&) = delete;
    CameraQueueReader& operator=(const CameraQueueReader&) = delete;

    // The queue's state; takes the slot offsets in (once they pass the
    // bounds checks) when the state is "published".
    uint32_t Refresh();
    // Hands the newest slot to callback (which may be null). True for Frame.
    bool ReadFrame(FrameCallback callback, void* user);
    // As ReadFrame, saying why nothing was read.
    ReadResult Read(FrameCallback callback, void* user);

    size_t mappedBytes() const;

private:
    explicit CameraQueueReader(std::unique_ptr<SharedMemoryMapping> mapping);
    const CameraQueueHeader* header() const;
    // False (and the view released) when nothing is mapped or the object is
    // now smaller than the view.
    bool StillMapped();
    bool ResolveOffsets();

    std::unique_ptr<SharedMemoryMapping> mapping_;
    uint32_t lastReadyIndex_ = 0;
    uint32_t sameCount_ = 0;
    bool resolved_ = false;
    uint64_t recordOffset_[kCameraQueueSlots] = {};
    uint64_t dataOffset_[kCameraQueueSlots] = {};
};
