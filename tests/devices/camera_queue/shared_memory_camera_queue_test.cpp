// The writer seen through the raw bytes of the object: header and size, how
// a picture is packed into a slot, slot order, refused frames, one writer per
// name, and objects left behind by dead writers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "raw_queue_view.h"
#include "vexo/gs_manual_clock.h"
#include "scoped_queue_name.h"
#include "test_picture.h"

namespace {

using OpenResult = SharedMemoryCameraQueue::OpenResult;

constexpr size_t kFrameCounter = 0;
constexpr size_t kReadyIndex = 4;
constexpr size_t kState = 12;

// The 40 header bytes of a fresh program-sized queue, then 24 zero bytes.
const uint32_t kFreshHeader[16] = {0, 0, 0, 0, 64, 5529728, 11059392, 96, 5529760, 11059424, 0, 0, 0, 0, 0, 0};

class SharedMemoryCameraQueueTest : public testing::Test {
protected:
    std::unique_ptr<SharedMemoryCameraQueue> MakeWriter(const uint32_t capacity = kCameraQueueFrameCapacity,
                                                        OpenResult* result = nullptr) {
        return SharedMemoryCameraQueue::CreateWriter(name_.name(), capacity, result);
    }
    void ExpectFreshHeader(const RawQueueView& view) {
        for (size_t word = 0; word < 16; ++word) EXPECT_EQ(view.Word(word * 4), kFreshHeader[word]) << "word " << word;
    }
    static void Write(SharedMemoryCameraQueue& queue, const TestPicture& picture) {
        queue.WriteFrame(picture.planes(), picture.strides(), picture.width(), picture.height());
    }

    ScopedQueueName name_;
};

TEST_F(SharedMemoryCameraQueueTest, NewQueueHasTheExactHeaderAndSize) {
    OpenResult result = OpenResult::Failed;
    const auto queue = MakeWriter(kCameraQueueFrameCapacity, &result);
    ASSERT_TRUE(queue);
    EXPECT_EQ(result, OpenResult::Created);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 16589056u);
    ExpectFreshHeader(*view);
    unsigned owner = 0;
    unsigned mode = 0;
    ASSERT_TRUE(RawQueueView::OwnerAndMode(name_.name(), &owner, &mode));
    EXPECT_EQ(owner, static_cast<unsigned>(geteuid()));
    EXPECT_EQ(mode, 0600u) << "only this user may open the frames";
}

TEST_F(SharedMemoryCameraQueueTest, PaddedStridesArePackedIntoTheSlot) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    TestPicture picture(1280, 720, 1344, 704, 736);
    picture.FillPattern(1);
    Write(*queue, picture);

    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->Word(kFrameCounter), 1u);
    EXPECT_EQ(view->Word(kReadyIndex), 1u);
    EXPECT_EQ(view->Word(kState), 2u);
    const size_t record = 5529728;  // frame 1 goes to slot 1
    const size_t data = 5529760;
    EXPECT_EQ(view->Word(record), 1280u);
    EXPECT_EQ(view->Word(record + 4), 720u);
    EXPECT_EQ(view->Word(record + 8), 1280u);
    EXPECT_EQ(view->Word(record + 12), 640u);
    EXPECT_EQ(view->Word(record + 16), 640u);

    const uint8_t* const y = view->bytes() + data;
    const uint8_t* const u = y + 1280 * 720;
    const uint8_t* const v = u + 640 * 360;
    const uint8_t* const planes[3] = {y, u, v};
    const uint32_t lines[3] = {1280, 640, 640};
    uint32_t frame = 0;
    EXPECT_TRUE(TestPicture::CheckPattern(planes, lines, 1280, 720, &frame));
    EXPECT_EQ(frame, 1u);
    // No padding byte (0xEE) slipped in, and nothing beyond V was written.
    EXPECT_EQ(v[640 * 360], 0u);
    const std::vector<uint8_t> zeros(32, 0);
    EXPECT_EQ(std::memcmp(view->bytes() + record + 20, zeros.data(), 12), 0);
}

TEST_F(SharedMemoryCameraQueueTest, FramesGoToSlotCounterModThree) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    const size_t records[3] = {64, 5529728, 11059392};
    const int expectedSlot[4] = {1, 2, 0, 1};
    for (int frame = 1; frame <= 4; ++frame) {
        TestPicture picture(8 * frame, 2);
        picture.FillPattern(static_cast<uint32_t>(frame));
        Write(*queue, picture);
        EXPECT_EQ(view->Word(records[expectedSlot[frame - 1]]), static_cast<uint32_t>(8 * frame)) << frame;
        EXPECT_EQ(view->Word(kReadyIndex), static_cast<uint32_t>(frame));
    }
    EXPECT_EQ(view->Word(records[1]), 32u);  // frame 4 replaced frame 1
    EXPECT_EQ(view->Word(records[2]), 16u);
    EXPECT_EQ(view->Word(records[0]), 24u);
}

// The heartbeat of an unchanged picture: the ready index moves on to a
// number of the same slot, and nothing of the picture is written again.
TEST_F(SharedMemoryCameraQueueTest, RepublishAnnouncesTheSameSlotWithoutCopying) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    EXPECT_FALSE(queue->RepublishLastFrame()) << "nothing written yet";
    EXPECT_EQ(view->Word(kReadyIndex), 0u);
    EXPECT_EQ(view->Word(kState), 0u);

    TestPicture picture(64, 48);
    picture.FillPattern(7);
    Write(*queue, picture);
    const size_t data = 5529760;  // slot 1
    const std::vector<uint8_t> slot(view->bytes() + 5529728, view->bytes() + data + 64 * 48 * 3 / 2);
    for (uint32_t beat = 1; beat <= 3; ++beat) {
        ASSERT_TRUE(queue->RepublishLastFrame());
        EXPECT_EQ(view->Word(kFrameCounter), 1 + 3 * beat);
        EXPECT_EQ(view->Word(kReadyIndex), 1 + 3 * beat);
        EXPECT_EQ(view->Word(kReadyIndex) % 3, 1u);
    }
    EXPECT_EQ(std::vector<uint8_t>(view->bytes() + 5529728, view->bytes() + data + 64 * 48 * 3 / 2), slot);
    // The next picture goes to the next slot, leaving the announced one whole.
    TestPicture next(32, 16);
    next.FillPattern(8);
    Write(*queue, next);
    EXPECT_EQ(view->Word(kReadyIndex), 11u);
    EXPECT_EQ(view->Word(11059392), 32u);  // slot 2's record
    EXPECT_EQ(std::memcmp(view->bytes() + data, picture.planes()[0], 64), 0);
}

TEST_F(SharedMemoryCameraQueueTest, RepublishRefusesWhereOnlyAWriteWouldBeRight) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    TestPicture picture(16, 8);
    picture.FillPattern(2);

    // After a refused frame the announced slot is not that frame's picture.
    Write(*queue, picture);
    std::vector<uint8_t> tiny(16, 1);
    const uint8_t* tinyPlanes[3] = {tiny.data(), tiny.data(), tiny.data()};
    const int wide[3] = {4096, 2048, 2048};
    queue->WriteFrame(tinyPlanes, wide, 4096, 4096);
    EXPECT_FALSE(queue->RepublishLastFrame());

    // Once stopped, only a real write publishes again.
    Write(*queue, picture);
    queue->SetState(kCameraQueueStopped);
    EXPECT_FALSE(queue->RepublishLastFrame());

    // Where the counter would wrap, three on is another slot.
    Write(*queue, picture);
    // Another program of this user may write the header: a writable view.
    const auto view = RawQueueView::Create(name_.name(), static_cast<size_t>(queue->layout().totalBytes));
    ASSERT_TRUE(view);
    view->SetWord(kFrameCounter, UINT32_MAX - 2);
    view->SetWord(kReadyIndex, UINT32_MAX - 2);
    EXPECT_FALSE(queue->RepublishLastFrame());
    EXPECT_EQ(view->Word(kReadyIndex), UINT32_MAX - 2);
    view->SetWord(kFrameCounter, UINT32_MAX - 3);
    view->SetWord(kReadyIndex, UINT32_MAX - 3);
    EXPECT_TRUE(queue->RepublishLastFrame());
    EXPECT_EQ(view->Word(kReadyIndex), UINT32_MAX);
}

// With a clock, a write into a slot published less than the readers' margin
// ago is refused whole (not a byte of the slot changes, the counter stays);
// an announcement starts its slot's margin again; and the margin is kept per
// slot, also where the counter wraps and two writes in a row go to slot 0.
TEST_F(SharedMemoryCameraQueueTest, WritesKeepTheReadersMarginPerSlot) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    GsManualClock clock;
    clock.AdvanceTo(std::chrono::seconds(5));
    queue->KeepReaderMargin(&clock);
    const auto view = RawQueueView::Create(name_.name(), static_cast<size_t>(queue->layout().totalBytes));
    ASSERT_TRUE(view);
    const GsClock::Nanos start = clock.Now();
    const auto at = [&](const int ms) { clock.AdvanceTo(start + std::chrono::milliseconds(ms)); };
    TestPicture picture(16, 8);
    const auto write = [&](const uint32_t frame) {
        picture.FillPattern(frame);
        Write(*queue, picture);
    };

    EXPECT_EQ(queue->NextWriteAllowedAt(), GsClock::Nanos::min());
    write(1);  // slot 1
    at(1);
    write(2);  // slot 2
    at(2);
    write(3);  // slot 0
    EXPECT_EQ(queue->NextWriteAllowedAt(), start + std::chrono::milliseconds(40));  // slot 1 again
    at(39);
    const std::vector<uint8_t> slot1(view->bytes() + 5529728, view->bytes() + 5529760 + 16 * 8 * 3 / 2);
    write(4);
    EXPECT_EQ(queue->writesHeldBack(), 1u);
    EXPECT_EQ(view->Word(kFrameCounter), 3u);
    EXPECT_EQ(view->Word(kReadyIndex), 3u);
    EXPECT_EQ(std::vector<uint8_t>(view->bytes() + 5529728, view->bytes() + 5529760 + 16 * 8 * 3 / 2), slot1);
    EXPECT_FALSE(queue->RepublishLastFrame()) << "the ready slot does not hold the refused picture";
    at(40);
    write(4);
    EXPECT_EQ(view->Word(kReadyIndex), 4u);

    // An announcement of slot 1 at 60 ms: it is written again only at 100 ms.
    at(41);
    write(5);  // slot 2 (published at 1 ms)
    at(42);
    write(6);  // slot 0 (published at 2 ms)
    at(60);
    ASSERT_TRUE(queue->RepublishLastFrame()) << "slot 0 announced again at 60 ms";
    EXPECT_EQ(view->Word(kReadyIndex) % 3, 0u);
    EXPECT_EQ(queue->NextWriteAllowedAt(), start + std::chrono::milliseconds(80));  // slot 1, written at 40 ms
    at(80);
    write(7);  // slot 1
    at(81);
    write(8);  // slot 2
    EXPECT_EQ(queue->NextWriteAllowedAt(), start + std::chrono::milliseconds(100));  // slot 0, announced at 60 ms
    EXPECT_EQ(queue->writesHeldBack(), 1u);

    // The counter's wrap: 2^32 - 1 and 0 are both slot 0.
    at(200);
    view->SetWord(kFrameCounter, UINT32_MAX - 1);
    view->SetWord(kReadyIndex, UINT32_MAX - 1);
    write(9);  // counter 2^32 - 1, slot 0
    EXPECT_EQ(view->Word(kReadyIndex), UINT32_MAX);
    at(210);
    write(10);  // counter 0, slot 0 again: inside its margin
    EXPECT_EQ(queue->writesHeldBack(), 2u);
    EXPECT_EQ(view->Word(kReadyIndex), UINT32_MAX);
    at(240);
    write(10);
    EXPECT_EQ(view->Word(kReadyIndex), 0u);
    EXPECT_EQ(queue->writesHeldBack(), 2u);
}

TEST_F(SharedMemoryCameraQueueTest, HeightOneWritesOnlyTheYRow) {
    const auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    TestPicture picture(8, 1);
    picture.FillPattern(5);
    Write(*queue, picture);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    const size_t data = 5529760;
    EXPECT_EQ(view->Word(5529728 + 8), 8u);   // lineY
    EXPECT_EQ(view->Word(5529728 + 12), 4u);  // lineU
    EXPECT_EQ(std::memcmp(view->bytes() + data, picture.planes()[0], 8), 0);
    for (size_t i = 8; i < 64; ++i) EXPECT_EQ(view->bytes()[data + i], 0u) << i;
}

struct RefusalCase {
    const char* what;
    uint32_t capacity;
    int width;
    int height;
    int strides[3];
    bool written;
};

TEST_F(SharedMemoryCameraQueueTest, FramesThatDoNotFitAreRefused) {
    const RefusalCase cases[] = {
        {"2560x1440 fills the slot", kCameraQueueFrameCapacity, 2560, 1440, {2560, 1280, 1280}, true},
        {"wider than 2560", kCameraQueueFrameCapacity, 2562, 1440, {2562, 1281, 1281}, false},
        {"taller than 1440", kCameraQueueFrameCapacity, 2560, 1442, {2560, 1280, 1280}, false},
        {"odd height: V starts past the U rows", 16, 4, 3, {4, 2, 2}, false},
        {"odd height that fits", 17, 4, 3, {4, 2, 2}, true},
        {"32-bit size wraps to 0", kCameraQueueFrameCapacity, 65536, 65536, {65536, 32768, 32768}, false},
        {"negative stride", kCameraQueueFrameCapacity, 64, 64, {-64, 32, 32}, false},
        {"zero width", kCameraQueueFrameCapacity, 0, 16, {16, 8, 8}, false},
        {"zero height", kCameraQueueFrameCapacity, 16, 0, {16, 8, 8}, false},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedQueueName name;
        const auto queue = SharedMemoryCameraQueue::CreateWriter(name.name(), c.capacity);
        ASSERT_TRUE(queue);
        // Real planes only for frames that must be written: a refused one
        // gets tiny planes, so accepting it would read far past them.
        std::unique_ptr<TestPicture> picture;
        std::vector<uint8_t> tiny(16, 1);
        const uint8_t* tinyPlanes[3] = {tiny.data(), tiny.data(), tiny.data()};
        if (c.written) picture = std::make_unique<TestPicture>(c.width, c.height, c.strides[0], c.strides[1], c.strides[2]);
        queue->WriteFrame(picture ? picture->planes() : tinyPlanes, c.strides, c.width, c.height);

        const auto view = RawQueueView::Open(name.name());
        ASSERT_TRUE(view);
        EXPECT_EQ(view->Word(kFrameCounter), c.written ? 1u : 0u);
        EXPECT_EQ(view->Word(kState), c.written ? 2u : 0u);
        // Frame 1 went to slot 1: its gap and slot 2's record stay zero.
        const CameraQueueLayout& layout = queue->layout();
        for (uint64_t i = uint64_t{layout.dataOffset[1]} + c.capacity; i < layout.dataOffset[2]; ++i) {
            ASSERT_EQ(view->bytes()[i], 0u) << i;
        }
    }
}

TEST_F(SharedMemoryCameraQueueTest, SecondWriterIsRefusedUntilTheFirstCloses) {
    auto first = MakeWriter();
    ASSERT_TRUE(first);
    OpenResult result = OpenResult::Created;
    EXPECT_FALSE(MakeWriter(kCameraQueueFrameCapacity, &result));
    EXPECT_EQ(result, OpenResult::WriterExists);

    TestPicture picture(16, 16);
    Write(*first, picture);
    first.reset();
    EXPECT_FALSE(name_.Exists());  // the name goes with its writer
    const auto third = MakeWriter(kCameraQueueFrameCapacity, &result);
    EXPECT_TRUE(third);
    EXPECT_EQ(result, OpenResult::Created);
}

TEST_F(SharedMemoryCameraQueueTest, ObjectOfADeadWriterIsTakenOverAndReinitialised) {
    const auto stale = RawQueueView::Create(name_.name(), 16589056);
    ASSERT_TRUE(stale);
    // A writer that died mid-run: counters, "published", junk offsets.
    for (size_t word = 0; word < 16; ++word) stale->SetWord(word * 4, 0xA5A50000u + static_cast<uint32_t>(word));
    stale->SetWord(kState, 2);

    OpenResult result = OpenResult::Failed;
    const auto queue = MakeWriter(kCameraQueueFrameCapacity, &result);
    ASSERT_TRUE(queue);
    EXPECT_EQ(result, OpenResult::Reused);
    // The same object: the old view sees the new header.
    ExpectFreshHeader(*stale);
}

TEST_F(SharedMemoryCameraQueueTest, ObjectOfAnotherSizeIsReplacedWithoutTouchingItsReaders) {
    const auto old = RawQueueView::Create(name_.name(), 4096);
    ASSERT_TRUE(old);
    old->SetWord(kState, 2);

    OpenResult result = OpenResult::Failed;
    const auto queue = MakeWriter(kCameraQueueFrameCapacity, &result);
    ASSERT_TRUE(queue);
    EXPECT_EQ(result, OpenResult::Replaced);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), 16589056u);
    ExpectFreshHeader(*view);
    // The old object was not resized under its mapping.
    EXPECT_EQ(old->Word(kState), 2u);
    EXPECT_EQ(old->bytes()[4095], 0u);
}

// Another local user made the object first, of the right size and open to
// everyone, to read what this program writes into it.
TEST_F(SharedMemoryCameraQueueTest, ObjectOfAnotherUserIsRefused) {
    constexpr unsigned kOtherUid = 65534;  // "nobody"
    const auto planted = RawQueueView::Create(name_.name(), 16589056);
    ASSERT_TRUE(planted);
    ASSERT_TRUE(RawQueueView::ChangeMode(name_.name(), 0666));
    if (geteuid() == kOtherUid || !RawQueueView::ChangeOwner(name_.name(), kOtherUid)) {
        GTEST_SKIP() << "cannot hand an object to another user here (" << std::strerror(errno)
                     << "): needs root outside a user namespace";
    }
    planted->SetWord(kFrameCounter, 77);

    OpenResult result = OpenResult::Created;
    EXPECT_FALSE(MakeWriter(kCameraQueueFrameCapacity, &result));
    EXPECT_EQ(result, OpenResult::NotOwned);
    // Left as it was: nothing written, nothing re-initialised.
    EXPECT_EQ(planted->Word(kFrameCounter), 77u);
    EXPECT_TRUE(name_.Exists());
}

// This user's own object, but open to others (a process of another user may
// have it mapped already): frames go into a new private object instead.
TEST_F(SharedMemoryCameraQueueTest, OwnObjectOpenToOthersIsReplacedByAPrivateOne) {
    const auto exposed = RawQueueView::Create(name_.name(), 16589056);
    ASSERT_TRUE(exposed);
    ASSERT_TRUE(RawQueueView::ChangeMode(name_.name(), 0644));

    OpenResult result = OpenResult::Failed;
    const auto queue = MakeWriter(kCameraQueueFrameCapacity, &result);
    ASSERT_TRUE(queue);
    EXPECT_EQ(result, OpenResult::Replaced);
    unsigned owner = 0;
    unsigned mode = 0;
    ASSERT_TRUE(RawQueueView::OwnerAndMode(name_.name(), &owner, &mode));
    EXPECT_EQ(mode, 0600u);

    TestPicture picture(16, 16);
    Write(*queue, picture);
    const auto current = RawQueueView::Open(name_.name());
    ASSERT_TRUE(current);
    EXPECT_EQ(current->Word(kFrameCounter), 1u);
    // The old mapping never sees a frame.
    EXPECT_EQ(exposed->Word(kFrameCounter), 0u);
    EXPECT_EQ(exposed->Word(kState), 0u);
}

TEST_F(SharedMemoryCameraQueueTest, CloseStopsTheQueueForItsReaders) {
    auto queue = MakeWriter();
    ASSERT_TRUE(queue);
    TestPicture picture(16, 16);
    Write(*queue, picture);
    const auto view = RawQueueView::Open(name_.name());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->Word(kState), 2u);
    queue->Close();
    EXPECT_EQ(view->Word(kState), 3u);
    EXPECT_EQ(view->Word(kReadyIndex), 1u);
    // A reader still mapping the old object does not block the next writer.
    EXPECT_TRUE(MakeWriter());
}

}  // namespace
