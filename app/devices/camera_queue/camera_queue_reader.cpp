#include "devices/camera_queue/camera_queue_reader.h"

#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "devices/camera_queue/shared_memory_mapping.h"
#include "devices/ownership.h"

namespace {

// Reads that find the same readyIndex this many times in a row take the
// writer as stalled (once; the next read tries again).
constexpr uint32_t kStalledAfterSameReads = 10;

}  // namespace

std::unique_ptr<CameraQueueReader> CameraQueueReader::Open(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size < static_cast<off_t>(kCameraQueueHeaderArea)) {
        ::close(fd);
        return nullptr;
    }
    // Frames only from an object of this user that nobody else may change:
    // another user could feed pictures or shrink the object under the view.
    if (OwnershipOf(status, kOthersWriteBits) != Ownership::kPrivate) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<SharedMemoryMapping> mapping =
        SharedMemoryMapping::Map(fd, static_cast<size_t>(status.st_size), SharedMemoryMapping::Access::ReadOnly);
    if (!mapping) return nullptr;
    return std::unique_ptr<CameraQueueReader>(new CameraQueueReader(std::move(mapping)));
}

CameraQueueReader::CameraQueueReader(std::unique_ptr<SharedMemoryMapping> mapping) : mapping_(std::move(mapping)) {}

CameraQueueReader::~CameraQueueReader() = default;

size_t CameraQueueReader::mappedBytes() const { return mapping_ ? mapping_->size() : 0; }

const CameraQueueHeader* CameraQueueReader::header() const {
    return reinterpret_cast<const CameraQueueHeader*>(mapping_->data());
}

bool CameraQueueReader::ResolveOffsets() {
    const CameraQueueHeader* const shared = header();
    const uint64_t size = mapping_->size();
    for (int slot = 0; slot < kCameraQueueSlots; ++slot) {
        const uint64_t record = CameraQueueLoadRelaxed(&shared->recordOffset[slot]);
        const uint64_t data = CameraQueueLoadRelaxed(&shared->dataOffset[slot]);
        if (record < kCameraQueueHeaderArea || record + sizeof(CameraQueueSlotRecord) > size) return false;
        if (data < kCameraQueueHeaderArea || data > size) return false;
        recordOffset_[slot] = record;
        dataOffset_[slot] = data;
    }
    return true;
}

bool CameraQueueReader::StillMapped() {
    if (!mapping_) return false;
    // Pages past the end of a shrunk object fault (SIGBUS) when touched: a
    // view larger than its object is given up before anything is read.
    struct stat status {};
    if (::fstat(mapping_->fd(), &status) == 0 && status.st_size >= static_cast<off_t>(mapping_->size())) return true;
    mapping_.reset();
    resolved_ = false;
    return false;
}

uint32_t CameraQueueReader::Refresh() {
    if (!StillMapped()) return 0;
    const uint32_t state = CameraQueueLoadAcquire(&header()->state);
    if (state != kCameraQueuePublished) {
        // A writer that takes the object over writes the offsets again.
        resolved_ = false;
    } else if (!resolved_) {
        resolved_ = ResolveOffsets();
    }
    return state;
}

bool CameraQueueReader::ReadFrame(const FrameCallback callback, void* const user) {
    return Read(callback, user) == ReadResult::Frame;
}

CameraQueueReader::ReadResult CameraQueueReader::Read(const FrameCallback callback, void* const user) {
    if (!StillMapped()) return ReadResult::NoQueue;
    const CameraQueueHeader* const shared = header();
    const uint32_t readyIndex = CameraQueueLoadAcquire(&shared->readyIndex);
    const uint32_t state = Refresh();
    if (state == kCameraQueueStopped) return ReadResult::Stopped;
    if (state != kCameraQueuePublished || !resolved_) return ReadResult::NotPublished;

    if (readyIndex != lastReadyIndex_) {
        lastReadyIndex_ = readyIndex;
        sameCount_ = 0;
    } else if (++sameCount_ == kStalledAfterSameReads) {
        return ReadResult::Stalled;
    }

    const int slot = static_cast<int>(readyIndex % kCameraQueueSlots);
    CameraQueueSlotRecord record{};
    std::memcpy(&record, mapping_->data() + recordOffset_[slot], sizeof(record));
    const uint64_t extent = CameraQueueFrameExtent(record.height, record.lineY, record.lineU, record.lineV);
    // ResolveOffsets keeps every data offset within the mapping, so the
    // room after it cannot wrap; the extent is checked against that room.
    const uint64_t room = mapping_->size() - dataOffset_[slot];
    if (record.width < 1 || record.height < 1 || extent > room) {
        return ReadResult::BadRecord;
    }

    const uint8_t* const y = mapping_->data() + dataOffset_[slot];
    const uint8_t* const u = y + uint64_t{record.height} * record.lineY;
    const uint8_t* const v = y + CameraQueueVOffset(record.height, record.lineY, record.lineU);
    const uint8_t* const planes[3] = {y, u, v};
    const uint32_t lines[3] = {record.lineY, record.lineU, record.lineV};
    if (callback != nullptr) callback(planes, lines, record.width, record.height, user);

    // Pairs with the writer's fence after its counter store: if the counter
    // has not yet reached the slot again, none of the bytes read were new.
    __atomic_thread_fence(__ATOMIC_ACQUIRE);
    const uint32_t counter = CameraQueueLoadRelaxed(&shared->frameCounter);
    if (counter - readyIndex >= kCameraQueueSlots) return ReadResult::Overwritten;
    return ReadResult::Frame;
}
