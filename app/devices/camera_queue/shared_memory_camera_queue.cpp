#include "devices/camera_queue/shared_memory_camera_queue.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/tether/tq_log.h"
#include "devices/camera_queue/shared_memory_mapping.h"
#include "devices/ownership.h"

namespace {

constexpr mode_t kQueueMode = 0600;  // the camera filter runs as the same user

// Opens (creating if needed) the object and takes the writer lock. -1 with
// *otherWriter set when another writer holds it; -1 with errno otherwise.
int OpenLocked(const std::string& name, const int extraFlags, bool* const otherWriter) {
    *otherWriter = false;
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | extraFlags, kQueueMode);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        *otherWriter = error == EWOULDBLOCK;
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<SharedMemoryCameraQueue> SharedMemoryCameraQueue::CreateWriter(const std::string& name,
                                                                               const uint32_t frameBytes,
                                                                               OpenResult* const result) {
    OpenResult ignored = OpenResult::Failed;
    OpenResult& outcome = result != nullptr ? *result : ignored;
    outcome = OpenResult::Failed;

    const CameraQueueLayout layout = CameraQueueLayout::ForCapacity(frameBytes);
    if (!layout.Fits32Bits()) {
        LOG_E("camera queue capacity %u too large", frameBytes);
        return nullptr;
    }
    const auto totalBytes = static_cast<off_t>(layout.totalBytes);

    bool otherWriter = false;
    int fd = OpenLocked(name, 0, &otherWriter);
    if (fd < 0) {
        if (otherWriter) {
            outcome = OpenResult::WriterExists;
            LOG_W("camera queue %s already has a writer; the virtual camera stays off", name.c_str());
        } else if (errno == EACCES) {
            outcome = OpenResult::NotOwned;
            LOG_E("camera queue %s exists and belongs to another user; the virtual camera stays off",
                  name.c_str());
        } else {
            LOG_E("camera queue %s cannot be opened: %s", name.c_str(), std::strerror(errno));
        }
        return nullptr;
    }

    // We hold the lock, so whatever the object holds was left by a writer
    // that is gone (or it is the empty object just created).
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        LOG_E("camera queue %s cannot be inspected: %s", name.c_str(), std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    // Frames go only into an object of this user that nobody else may open:
    // another user's object (made world-writable to lure us in) is refused,
    // and can be neither unlinked (the sticky /dev/shm) nor taken over.
    const Ownership ownership = OwnershipOf(status, kOthersAccessBits);
    if (ownership == Ownership::kForeign) {
        LOG_E("camera queue %s belongs to user %u, not to this user (%u); the virtual camera stays off",
              name.c_str(), static_cast<unsigned>(status.st_uid), static_cast<unsigned>(::geteuid()));
        ::close(fd);
        outcome = OpenResult::NotOwned;
        return nullptr;
    }
    const bool othersMayOpen = ownership == Ownership::kOpenToOthers;
    if (othersMayOpen) {
        // Our own, but others may hold it open already and would keep seeing
        // whatever it holds: a new object under the name, owner-only.
        LOG_W("camera queue %s is open to other users (mode %03o); it is replaced by a private one", name.c_str(),
              static_cast<unsigned>(status.st_mode & 0777));
    }
    if (status.st_size == totalBytes && !othersMayOpen) {
        outcome = OpenResult::Reused;
        LOG_I("camera queue %s left by an earlier writer is taken over", name.c_str());
    } else if (status.st_size == 0 && !othersMayOpen) {
        outcome = OpenResult::Created;
    } else {
        // Shrinking or growing an object a reader maps could fault the
        // reader; a new object under the name leaves old readers their view.
        LOG_W("camera queue %s of %lld bytes is replaced", name.c_str(), static_cast<long long>(status.st_size));
        ::shm_unlink(name.c_str());
        ::close(fd);
        fd = OpenLocked(name, O_EXCL, &otherWriter);
        if (fd < 0) {
            if (otherWriter || errno == EEXIST) {
                outcome = OpenResult::WriterExists;
                LOG_W("camera queue %s was taken by another writer", name.c_str());
            } else {
                LOG_E("camera queue %s cannot be created: %s", name.c_str(), std::strerror(errno));
            }
            return nullptr;
        }
        outcome = OpenResult::Replaced;
    }
    // Exactly owner-only, whatever the umask left of the creation mode.
    if (outcome != OpenResult::Reused && ::fchmod(fd, kQueueMode) != 0) {
        LOG_E("camera queue %s cannot be made private: %s", name.c_str(), std::strerror(errno));
        ::shm_unlink(name.c_str());
        ::close(fd);
        outcome = OpenResult::Failed;
        return nullptr;
    }
    if (outcome != OpenResult::Reused && ::ftruncate(fd, totalBytes) != 0) {
        LOG_E("camera queue %s cannot be sized: %s", name.c_str(), std::strerror(errno));
        ::shm_unlink(name.c_str());
        ::close(fd);
        outcome = OpenResult::Failed;
        return nullptr;
    }

    std::unique_ptr<SharedMemoryMapping> mapping =
        SharedMemoryMapping::Map(fd, static_cast<size_t>(layout.totalBytes), SharedMemoryMapping::Access::ReadWrite);
    if (!mapping) {
        LOG_E("camera queue %s cannot be mapped: %s", name.c_str(), std::strerror(errno));
        ::shm_unlink(name.c_str());
        outcome = OpenResult::Failed;
        return nullptr;
    }
    std::unique_ptr<SharedMemoryCameraQueue> queue(new SharedMemoryCameraQueue(name, layout, std::move(mapping)));
    queue->Initialise();
    return queue;
}

SharedMemoryCameraQueue::SharedMemoryCameraQueue(std::string name, const CameraQueueLayout& layout,
                                                 std::unique_ptr<SharedMemoryMapping> mapping)
    : name_(std::move(name)), layout_(layout), mapping_(std::move(mapping)) {}

SharedMemoryCameraQueue::~SharedMemoryCameraQueue() { Close(); }

CameraQueueHeader* SharedMemoryCameraQueue::header() const {
    return reinterpret_cast<CameraQueueHeader*>(mapping_->data());
}

void SharedMemoryCameraQueue::Initialise() {
    lastFrameHeld_ = false;
    for (bool& published : slotPublished_) published = false;
    CameraQueueHeader* const shared = header();
    // A reader of a taken-over object stops at "fresh" before anything else moves.
    CameraQueueStoreRelease(&shared->state, kCameraQueueFresh);
    CameraQueueStoreRelaxed(&shared->frameCounter, 0);
    CameraQueueStoreRelaxed(&shared->readyIndex, 0);
    shared->reserved = 0;
    for (int slot = 0; slot < kCameraQueueSlots; ++slot) {
        shared->recordOffset[slot] = layout_.recordOffset[slot];
        shared->dataOffset[slot] = layout_.dataOffset[slot];
    }
    std::memset(mapping_->data() + sizeof(CameraQueueHeader), 0, kCameraQueueHeaderArea - sizeof(CameraQueueHeader));
    // The offsets are read by readers once they see "published", which a
    // later release store of state announces.
}

bool SharedMemoryCameraQueue::StillMapped() {
    if (!mapping_) return false;
    // Someone of this user truncated the object: the pages past its end are
    // gone and touching them would end the program with SIGBUS.
    struct stat status {};
    if (::fstat(mapping_->fd(), &status) == 0 && status.st_size >= static_cast<off_t>(mapping_->size())) return true;
    LOG_E("camera queue %s shrank to %lld bytes under its writer; the virtual camera stops", name_.c_str(),
          static_cast<long long>(status.st_size));
    mapping_.reset();
    ::shm_unlink(name_.c_str());
    return false;
}

void SharedMemoryCameraQueue::WriteFrame(const uint8_t* const planes[3], const int strides[3], const int width,
                                         const int height) {
    if (width < 1 || height < 1 || !StillMapped()) return;
    const int halfWidth = width / 2;
    const int lineY = std::min(strides[0], width);
    const int lineU = std::min(strides[1], halfWidth);
    const int lineV = std::min(strides[2], halfWidth);
    const bool hasChroma = height > 1;
    const bool linesValid = lineY > 0 && (!hasChroma || (lineU >= 0 && lineV >= 0));
    const auto h = static_cast<uint32_t>(height);
    const uint64_t extent =
        linesValid ? CameraQueueFrameExtent(h, static_cast<uint32_t>(lineY), static_cast<uint32_t>(std::max(lineU, 0)),
                                            static_cast<uint32_t>(std::max(lineV, 0)))
                   : 0;
    if (!linesValid || extent > layout_.capacity) {
        lastFrameHeld_ = false;
        if (framesRefused_++ == 0) {
            LOG_W("camera queue refuses a %dx%d frame (lines %d %d %d): %llu bytes, slot holds %u", width, height,
                  lineY, lineU, lineV, static_cast<unsigned long long>(extent), layout_.capacity);
        }
        return;
    }

    CameraQueueHeader* const shared = header();
    const uint32_t counter = CameraQueueLoadRelaxed(&shared->frameCounter) + 1;
    const int slot = static_cast<int>(counter % kCameraQueueSlots);
    // The readers' margin. Write n goes to slot n % 3 and readyIndex names
    // the newest whole slot, so between writes the slot written next,
    // (readyIndex + 1) % 3, is the one published two writes before the
    // ready one (or, at the counter's wrap, where 2^32 - 1 and 0 are both
    // slot 0, the ready one itself). Its last publication, by a write or an
    // announcement, must lie kReaderMargin back before the counter moves
    // here, which is the first sign of a write a reader can see: so a reader
    // that saw a slot published has kReaderMargin to copy it, and no four
    // writes in a row ever start within kReaderMargin of each other's
    // publications. Kept per slot, it holds whatever the counter says.
    if (clock_ != nullptr && clock_->Now() < NextWriteAllowedAt()) {
        lastFrameHeld_ = false;  // the announced slot is not this picture's
        if (writesHeldBack_++ == 0) LOG_W("camera queue holds back a write inside the readers' margin");
        return;
    }
    // The counter moves before the slot is touched: a reader that finds it
    // fewer than three past the index it copied knows its copy is whole.
    CameraQueueStoreRelaxed(&shared->frameCounter, counter);
    __atomic_thread_fence(__ATOMIC_RELEASE);

    const CameraQueueSlotRecord record{static_cast<uint32_t>(width), h, static_cast<uint32_t>(lineY),
                                       static_cast<uint32_t>(lineU), static_cast<uint32_t>(lineV)};
    std::memcpy(mapping_->data() + layout_.recordOffset[slot], &record, sizeof(record));

    uint8_t* const data = mapping_->data() + layout_.dataOffset[slot];
    for (int row = 0; row < height; ++row) {
        std::memcpy(data + static_cast<size_t>(row) * static_cast<size_t>(lineY),
                    planes[0] + static_cast<ptrdiff_t>(row) * strides[0], static_cast<size_t>(lineY));
    }
    if (hasChroma) {
        const int chromaRows = height / 2;
        uint8_t* const u = data + static_cast<size_t>(h) * static_cast<size_t>(lineY);
        uint8_t* const v = data + CameraQueueVOffset(h, record.lineY, record.lineU);
        for (int row = 0; row < chromaRows; ++row) {
            std::memcpy(u + static_cast<size_t>(row) * static_cast<size_t>(lineU),
                        planes[1] + static_cast<ptrdiff_t>(row) * strides[1], static_cast<size_t>(lineU));
        }
        for (int row = 0; row < chromaRows; ++row) {
            std::memcpy(v + static_cast<size_t>(row) * static_cast<size_t>(lineV),
                        planes[2] + static_cast<ptrdiff_t>(row) * strides[2], static_cast<size_t>(lineV));
        }
    }

    CameraQueueStoreRelease(&shared->readyIndex, counter);
    CameraQueueStoreRelease(&shared->state, kCameraQueuePublished);
    NotePublished(slot);
    lastFrameHeld_ = true;
}

bool SharedMemoryCameraQueue::RepublishLastFrame() {
    if (!lastFrameHeld_ || !StillMapped()) return false;
    CameraQueueHeader* const shared = header();
    if (CameraQueueLoadRelaxed(&shared->state) != kCameraQueuePublished) return false;
    const uint32_t counter = CameraQueueLoadRelaxed(&shared->frameCounter);
    if (counter > UINT32_MAX - kCameraQueueSlots) return false;
    // A reader still copying the slot sees the counter three on and takes
    // its copy as overwritten: a needless retry, never a torn picture.
    const uint32_t next = counter + kCameraQueueSlots;
    CameraQueueStoreRelaxed(&shared->frameCounter, next);
    CameraQueueStoreRelease(&shared->readyIndex, next);
    // Readers may start copying the slot now: its margin starts again.
    NotePublished(static_cast<int>(next % kCameraQueueSlots));
    return true;
}

void SharedMemoryCameraQueue::KeepReaderMargin(const GsClock* const clock) { clock_ = clock; }

int SharedMemoryCameraQueue::NextSlot() const {
    return static_cast<int>((CameraQueueLoadRelaxed(&header()->frameCounter) + 1) % kCameraQueueSlots);
}

void SharedMemoryCameraQueue::NotePublished(const int slot) {
    if (clock_ == nullptr) return;
    // Taken after the publishing store: never earlier than a reader saw it.
    publishedAt_[slot] = clock_->Now();
    slotPublished_[slot] = true;
}

GsClock::Nanos SharedMemoryCameraQueue::NextWriteAllowedAt() const {
    if (clock_ == nullptr || !mapping_) return GsClock::Nanos::min();
    const int slot = NextSlot();
    if (!slotPublished_[slot]) return GsClock::Nanos::min();
    return publishedAt_[slot] + std::chrono::duration_cast<GsClock::Nanos>(kReaderMargin);
}

void SharedMemoryCameraQueue::SetState(const uint32_t state) {
    if (!StillMapped()) return;
    CameraQueueStoreRelease(&header()->state, state);
}

void SharedMemoryCameraQueue::Close() {
    if (!StillMapped()) return;
    SetState(kCameraQueueStopped);
    // Unlinked while still locked, so that no new writer can take the object
    // over only to lose its name; readers keep their view and see "stopped".
    ::shm_unlink(name_.c_str());
    mapping_.reset();
}
