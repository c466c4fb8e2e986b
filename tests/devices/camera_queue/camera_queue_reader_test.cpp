// The reader protocol against the real writer (whole copies, stopped and
// stalled writers, a copy overtaken by the writer) and against hand-made
// headers whose offsets and sizes point outside the mapping.
#include <gtest/gtest.h>

#include <vector>

#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "raw_queue_view.h"
#include "scoped_queue_name.h"
#include "test_picture.h"

namespace {

using ReadResult = CameraQueueReader::ReadResult;

// What a callback saw; optionally lets the writer run on during the copy.
struct ReadCapture {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t lines[3] = {};
    bool patternWhole = false;
    uint32_t frame = 0;
    SharedMemoryCameraQueue* writerDuringCopy = nullptr;
    int framesDuringCopy = 0;
};

void Capture(const uint8_t* const planes[3], const uint32_t lines[3], const uint32_t width, const uint32_t height,
             void* user) {
    auto* const capture = static_cast<ReadCapture*>(user);
    capture->width = width;
    capture->height = height;
    for (int i = 0; i < 3; ++i) capture->lines[i] = lines[i];
    if (capture->writerDuringCopy != nullptr) {
        TestPicture picture(static_cast<int>(width), static_cast<int>(height));
        for (int i = 0; i < capture->framesDuringCopy; ++i) {
            picture.FillPattern(1000 + static_cast<uint32_t>(i));
            capture->writerDuringCopy->WriteFrame(picture.planes(), picture.strides(), picture.width(),
                                                  picture.height());
        }
    }
    capture->patternWhole = TestPicture::CheckPattern(planes, lines, width, height, &capture->frame);
}

class CameraQueueReaderTest : public testing::Test {
protected:
    void SetUp() override {
        writer_ = SharedMemoryCameraQueue::CreateWriter(name_.name(), kCameraQueueFrameCapacity);
        ASSERT_TRUE(writer_);
        reader_ = CameraQueueReader::Open(name_.name());
        ASSERT_TRUE(reader_);
    }
    void Write(const uint32_t frame, const int width = 64, const int height = 48) {
        TestPicture picture(width, height, width + 16, width / 2 + 8, width / 2 + 24);
        picture.FillPattern(frame);
        writer_->WriteFrame(picture.planes(), picture.strides(), picture.width(), picture.height());
    }

    ScopedQueueName name_;
    std::unique_ptr<SharedMemoryCameraQueue> writer_;
    std::unique_ptr<CameraQueueReader> reader_;
};

TEST_F(CameraQueueReaderTest, ReadsOnlyPublishedFramesWhole) {
    ReadCapture capture;
    EXPECT_EQ(reader_->Read(Capture, &capture), ReadResult::NotPublished);
    EXPECT_EQ(reader_->mappedBytes(), 16589056u);

    Write(7, 1280, 720);
    EXPECT_EQ(reader_->Read(Capture, &capture), ReadResult::Frame);
    EXPECT_EQ(capture.width, 1280u);
    EXPECT_EQ(capture.height, 720u);
    EXPECT_EQ(capture.lines[0], 1280u);
    EXPECT_EQ(capture.lines[1], 640u);
    EXPECT_EQ(capture.lines[2], 640u);
    EXPECT_TRUE(capture.patternWhole);
    EXPECT_EQ(capture.frame, 7u);

    Write(8);
    EXPECT_TRUE(reader_->ReadFrame(Capture, &capture));
    EXPECT_EQ(capture.frame, 8u);

    writer_->Close();
    EXPECT_EQ(reader_->Refresh(), 3u);
    EXPECT_EQ(reader_->Read(Capture, &capture), ReadResult::Stopped);
}

TEST_F(CameraQueueReaderTest, TenthReadOfTheSameFrameReportsAStall) {
    Write(1);
    std::vector<ReadResult> results;
    for (int read = 0; read < 12; ++read) results.push_back(reader_->Read(nullptr, nullptr));
    for (int read = 0; read < 12; ++read) {
        // The first read is new; reads 2..10 repeat it (same count 1..9).
        EXPECT_EQ(results[read], read == 10 ? ReadResult::Stalled : ReadResult::Frame) << read;
    }
    Write(2);
    EXPECT_EQ(reader_->Read(nullptr, nullptr), ReadResult::Frame);
}

TEST_F(CameraQueueReaderTest, CopyOvertakenByTheWriterIsReported) {
    for (const int framesDuringCopy : {2, 3}) {
        SCOPED_TRACE(framesDuringCopy);
        Write(1);
        ReadCapture capture;
        capture.writerDuringCopy = writer_.get();
        capture.framesDuringCopy = framesDuringCopy;
        const ReadResult result = reader_->Read(Capture, &capture);
        // Two more writes fill the other slots; the third reuses the one read.
        EXPECT_EQ(result, framesDuringCopy < 3 ? ReadResult::Frame : ReadResult::Overwritten);
        if (framesDuringCopy < 3) {
            EXPECT_TRUE(capture.patternWhole);
            EXPECT_EQ(capture.frame, 1u);
        } else {
            EXPECT_NE(capture.frame, 1u);  // the slot now holds a later frame
        }
    }
}

// Headers that a broken or hostile writer could leave, in a small object.
struct HostileCase {
    const char* what;
    uint32_t recordOffset1;
    uint32_t dataOffset1;
    uint32_t height;
    uint32_t lineY;
    ReadResult expected;
    uint32_t width = 16;
    uint32_t lineU = 8;
    uint32_t lineV = 8;
};

TEST(CameraQueueReaderBoundsTest, OffsetsAndSizesOutsideTheMappingAreRefused) {
    constexpr size_t kSize = 4096;
    const HostileCase cases[] = {
        {"sane", 1024, 1056, 4, 16, ReadResult::Frame},
        {"record past the end", 4090, 1056, 4, 16, ReadResult::NotPublished},
        {"record offset wraps in 32 bits", 0xFFFFFFF0u, 1056, 4, 16, ReadResult::NotPublished},
        {"data offset past the end", 1024, 5000, 4, 16, ReadResult::NotPublished},
        {"picture runs past the end", 1024, 1056, 200, 16, ReadResult::BadRecord},
        {"32-bit size would wrap to 0", 1024, 1056, 65536, 65536, ReadResult::BadRecord},
        // Each product fits 64 bits; their sum wraps to exactly 0.
        {"64-bit sum would wrap to 0", 1024, 1056, 0xFFFFFFFFu, 4, ReadResult::BadRecord, 1, 0xFFFFFFFFu,
         0xFFFFFFFCu},
        {"every field at its largest", 1024, 1056, 0xFFFFFFFFu, 0xFFFFFFFFu, ReadResult::BadRecord, 0xFFFFFFFFu,
         0xFFFFFFFFu, 0xFFFFFFFFu},
        {"data offset at the very end", 1024, 4096, 1, 1, ReadResult::BadRecord, 1, 0, 0},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedQueueName name;
        const auto crafted = RawQueueView::Create(name.name(), kSize);
        ASSERT_TRUE(crafted);
        const uint32_t header[10] = {1, 1, 0, 2, 64, c.recordOffset1, 2048, 96, c.dataOffset1, 2080};
        for (size_t i = 0; i < 10; ++i) crafted->SetWord(i * 4, header[i]);
        if (uint64_t{c.recordOffset1} + 20 <= kSize) {
            const uint32_t record[5] = {c.width, c.height, c.lineY, c.lineU, c.lineV};
            for (size_t i = 0; i < 5; ++i) crafted->SetWord(c.recordOffset1 + i * 4, record[i]);
        }
        const auto reader = CameraQueueReader::Open(name.name());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->Read(nullptr, nullptr), c.expected);
    }
}

// Someone truncates the object while a reader maps it: touching the pages
// that are gone would end the reader with SIGBUS.
TEST_F(CameraQueueReaderTest, ShrunkObjectIsLetGoInsteadOfFaulting) {
    Write(1, 1280, 720);
    ASSERT_EQ(reader_->Read(nullptr, nullptr), ReadResult::Frame);
    for (const size_t size : {size_t{4096}, size_t{0}}) {
        SCOPED_TRACE(size);
        ASSERT_TRUE(RawQueueView::Truncate(name_.name(), size));
        ReadCapture capture;
        EXPECT_EQ(reader_->Read(Capture, &capture), ReadResult::NoQueue);
        EXPECT_EQ(capture.width, 0u) << "the callback ran on a shrunk object";
        EXPECT_EQ(reader_->Refresh(), 0u);
        EXPECT_EQ(reader_->mappedBytes(), 0u);
        // A reader opened now maps what is there and reads nothing outside it.
        const auto again = CameraQueueReader::Open(name_.name());
        if (again) {
            EXPECT_NE(again->Read(nullptr, nullptr), ReadResult::Frame);
        }
    }
    // The writer, too, stops instead of faulting on its next frame.
    Write(2, 1280, 720);
    writer_.reset();
}

TEST(CameraQueueReaderBoundsTest, ObjectsOthersMayWriteAreNotOpened) {
    for (const unsigned mode : {0622u, 0606u, 0666u}) {
        SCOPED_TRACE(mode);
        ScopedQueueName name;
        const auto crafted = RawQueueView::Create(name.name(), 4096);
        ASSERT_TRUE(crafted);
        ASSERT_TRUE(RawQueueView::ChangeMode(name.name(), mode));
        EXPECT_FALSE(CameraQueueReader::Open(name.name()));
    }
    ScopedQueueName readable;
    ASSERT_TRUE(RawQueueView::Create(readable.name(), 4096));
    ASSERT_TRUE(RawQueueView::ChangeMode(readable.name(), 0644));
    EXPECT_TRUE(CameraQueueReader::Open(readable.name())) << "others reading does not concern the reader";
}

TEST(CameraQueueReaderBoundsTest, ObjectsTooSmallOrMissingAreNotOpened) {
    ScopedQueueName name;
    EXPECT_FALSE(CameraQueueReader::Open(name.name()));
    const auto crafted = RawQueueView::Create(name.name(), 40);
    ASSERT_TRUE(crafted);
    EXPECT_FALSE(CameraQueueReader::Open(name.name()));
}

}  // namespace
