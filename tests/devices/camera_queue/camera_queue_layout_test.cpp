// Where the slots lie for a given capacity: the program's figures, and the
// alignment and gaps that every capacity must keep.
#include <gtest/gtest.h>

#include "devices/camera_queue/camera_queue_layout.h"

TEST(CameraQueueLayoutTest, ProgramCapacityGivesTheKnownOffsets) {
    const CameraQueueLayout layout = CameraQueueLayout::ForCapacity(kCameraQueueFrameCapacity);
    EXPECT_EQ(kCameraQueueFrameCapacity, 5529600u);
    EXPECT_EQ(layout.recordOffset[0], 64u);
    EXPECT_EQ(layout.dataOffset[0], 96u);
    EXPECT_EQ(layout.recordOffset[1], 5529728u);
    EXPECT_EQ(layout.dataOffset[1], 5529760u);
    EXPECT_EQ(layout.recordOffset[2], 11059392u);
    EXPECT_EQ(layout.dataOffset[2], 11059424u);
    EXPECT_EQ(layout.totalBytes, 16589056u);
}

TEST(CameraQueueLayoutTest, SlotsAreAlignedAndApartForAnyCapacity) {
    for (const uint32_t capacity : {0u, 1u, 31u, 32u, 33u, 100u, 4096u, 1000001u, kCameraQueueFrameCapacity}) {
        SCOPED_TRACE(capacity);
        const CameraQueueLayout layout = CameraQueueLayout::ForCapacity(capacity);
        for (int slot = 0; slot < kCameraQueueSlots; ++slot) {
            EXPECT_EQ(layout.recordOffset[slot] % 32, 0u);
            EXPECT_EQ(layout.dataOffset[slot], layout.recordOffset[slot] + 32);
            const uint64_t dataEnd = uint64_t{layout.dataOffset[slot]} + capacity;
            const uint64_t next = slot + 1 < kCameraQueueSlots ? layout.recordOffset[slot + 1] : layout.totalBytes;
            EXPECT_GE(next, dataEnd + 32) << "slot " << slot;
        }
        EXPECT_EQ(layout.totalBytes % 32, 0u);
    }
}

TEST(CameraQueueLayoutTest, ExtentCountsTheGapBeforeVForOddHeights) {
    // Height 3, lines 4/2/2: U has one row (2 bytes) but V starts at
    // 12 + (2 * 3) / 2 = 15, so the frame needs 17 bytes, not 16.
    EXPECT_EQ(CameraQueueVOffset(3, 4, 2), 15u);
    EXPECT_EQ(CameraQueueFrameExtent(3, 4, 2, 2), 17u);
    EXPECT_EQ(CameraQueueFrameExtent(1440, 2560, 1280, 1280), kCameraQueueFrameCapacity);
    // 32-bit products would wrap to 0 here.
    EXPECT_EQ(CameraQueueFrameExtent(65536, 65536, 0, 0), uint64_t{1} << 32);
    // Here the 64-bit sum of the three planes would wrap to exactly 0.
    EXPECT_EQ(CameraQueueFrameExtent(0xFFFFFFFFu, 4, 0xFFFFFFFFu, 0xFFFFFFFCu), UINT64_MAX);
}
