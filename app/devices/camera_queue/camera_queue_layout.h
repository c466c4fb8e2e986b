// The byte layout of the shared-memory camera queue, shared by its writer
// (this program) and every reader (the camera filter, the tests). All fields
// are unsigned 32-bit little-endian; offsets count from the start of the area.
//
//   0      header (40 bytes), 40..63 zero
//   64     slot 0: record area (32 bytes), data area (capacity bytes)
//   r1     slot 1: record area at r1, data at d1 = r1 + 32
//   r2     slot 2: record area at r2, data at d2 = r2 + 32
//
// Every record and data offset is a multiple of 32 and at least 32 bytes of
// gap follow each data area.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the queue is a little-endian wire format");

enum CameraQueueState : uint32_t {
    kCameraQueueFresh = 0,      // just created (or re-initialised); nothing to read
    kCameraQueuePublished = 2,  // at least one frame written since
    kCameraQueueStopped = 3,    // writer closed or output disabled
};

constexpr int kCameraQueueSlots = 3;

struct CameraQueueHeader {
    uint32_t frameCounter;  // bumped before the writer touches a slot; +3 (same slot) to announce it again
    uint32_t readyIndex;    // frameCounter after the last completed write or announcement; slot = readyIndex % 3
    uint32_t reserved;      // always 0
    uint32_t state;         // a CameraQueueState
    uint32_t recordOffset[kCameraQueueSlots];
    uint32_t dataOffset[kCameraQueueSlots];
};
static_assert(offsetof(CameraQueueHeader, frameCounter) == 0);
static_assert(offsetof(CameraQueueHeader, readyIndex) == 4);
static_assert(offsetof(CameraQueueHeader, reserved) == 8);
static_assert(offsetof(CameraQueueHeader, state) == 12);
static_assert(offsetof(CameraQueueHeader, recordOffset) == 16);
static_assert(offsetof(CameraQueueHeader, dataOffset) == 28);
static_assert(sizeof(CameraQueueHeader) == 40);

// What a slot holds: the picture's size and the packed row length of each
// plane. Y rows first, then U rows at height * lineY, then V rows at that plus
// (lineU * height) / 2; height / 2 rows each for U and V.
struct CameraQueueSlotRecord {
    uint32_t width;
    uint32_t height;
    uint32_t lineY;
    uint32_t lineU;
    uint32_t lineV;
};
static_assert(offsetof(CameraQueueSlotRecord, width) == 0);
static_assert(offsetof(CameraQueueSlotRecord, height) == 4);
static_assert(offsetof(CameraQueueSlotRecord, lineY) == 8);
static_assert(offsetof(CameraQueueSlotRecord, lineU) == 12);
static_assert(offsetof(CameraQueueSlotRecord, lineV) == 16);
static_assert(sizeof(CameraQueueSlotRecord) == 20);

constexpr uint32_t kCameraQueueHeaderArea = 64;  // header plus its zero tail
constexpr uint32_t kCameraQueueRecordArea = 32;

// The largest picture the program hands on, 2560 x 1440 in 4:2:0.
constexpr uint32_t kCameraQueueFrameCapacity = 2560u * 1440u * 3u / 2u;

// Where the slots of a queue of a given capacity lie, and how large the area is.
struct CameraQueueLayout {
    uint32_t capacity = 0;
    uint32_t recordOffset[kCameraQueueSlots] = {};
    uint32_t dataOffset[kCameraQueueSlots] = {};
    uint64_t totalBytes = 0;  // above 2^32 - 1 the layout cannot be expressed

    static constexpr uint64_t TruncateTo32(const uint64_t value) { return value & ~uint64_t{31}; }

    static constexpr CameraQueueLayout ForCapacity(const uint32_t capacity) {
        CameraQueueLayout layout;
        const uint64_t s = capacity;
        const uint64_t r1 = TruncateTo32(s + 159);
        const uint64_t d1 = TruncateTo32(r1 + 51);
        const uint64_t r2 = TruncateTo32(s + 63 + d1);
        const uint64_t d2 = TruncateTo32(r2 + 51);
        layout.capacity = capacity;
        layout.recordOffset[0] = kCameraQueueHeaderArea;
        layout.dataOffset[0] = kCameraQueueHeaderArea + kCameraQueueRecordArea;
        layout.recordOffset[1] = static_cast<uint32_t>(r1);
        layout.dataOffset[1] = static_cast<uint32_t>(d1);
        layout.recordOffset[2] = static_cast<uint32_t>(r2);
        layout.dataOffset[2] = static_cast<uint32_t>(d2);
        layout.totalBytes = TruncateTo32(s + 63 + d2);
        return layout;
    }

    constexpr bool Fits32Bits() const { return totalBytes <= UINT32_MAX; }
};

// Bytes a slot needs for a picture: the V plane starts at
// height * lineY + (lineU * height) / 2, which for odd heights lies past the
// end of the U rows, so the extent is measured from there. The fields come
// from a shared area anyone may have written: 64-bit products of 32-bit
// fields cannot wrap, but their sum can, so every step is checked and an
// extent that does not fit 64 bits comes back as UINT64_MAX (larger than any
// mapping).
constexpr uint64_t CameraQueueFrameExtent(const uint32_t height, const uint32_t lineY, const uint32_t lineU,
                                          const uint32_t lineV) {
    const uint64_t h = height;
    const uint64_t yBytes = h * lineY;
    const uint64_t uBytes = (uint64_t{lineU} * h) / 2;
    const uint64_t vBytes = (h / 2) * lineV;
    uint64_t extent = 0;
    if (__builtin_add_overflow(yBytes, uBytes, &extent)) return UINT64_MAX;
    if (__builtin_add_overflow(extent, vBytes, &extent)) return UINT64_MAX;
    return extent;
}

// Where the V plane starts inside a slot's data area.
constexpr uint64_t CameraQueueVOffset(const uint32_t height, const uint32_t lineY, const uint32_t lineU) {
    const uint64_t h = height;
    return h * lineY + (uint64_t{lineU} * h) / 2;
}

// The shared header has no lock: single 32-bit words are published with
// release stores after the data they announce and read with acquire loads.
// The builtins work on a plain word of the mapping (and on a read-only one).
inline uint32_t CameraQueueLoadAcquire(const uint32_t* word) { return __atomic_load_n(word, __ATOMIC_ACQUIRE); }
inline uint32_t CameraQueueLoadRelaxed(const uint32_t* word) { return __atomic_load_n(word, __ATOMIC_RELAXED); }
inline void CameraQueueStoreRelease(uint32_t* word, const uint32_t value) {
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
}
inline void CameraQueueStoreRelaxed(uint32_t* word, const uint32_t value) {
    __atomic_store_n(word, value, __ATOMIC_RELAXED);
}
