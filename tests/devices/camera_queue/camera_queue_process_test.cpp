// Writer and reader in different processes: the header and slots as another
// process sees them, a second writer process refused, the object of a killed
// writer taken over with its reader still attached, and a soak in which
// every frame carries its counter and no torn frame gets through the reader.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "devices/camera_queue/camera_queue_reader.h"
#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "raw_queue_view.h"
#include "scoped_queue_name.h"
#include "test_picture.h"
#include "writer_probe_process.h"

namespace {

using OpenResult = SharedMemoryCameraQueue::OpenResult;

QStringList ProbeArguments(const ScopedQueueName& name, const int frames, const QStringList& more = {}) {
    return QStringList{"--name", QString::fromStdString(name.name()), "--frames", QString::number(frames)} + more;
}

uint32_t CounterInSlot(const RawQueueView& view, const size_t dataOffset) { return view.Word(dataOffset); }

TEST(CameraQueueProcessTest, AnotherProcessSeesTheExactHeaderAndSlots) {
    ScopedQueueName name;
    WriterProbeProcess probe(ProbeArguments(name, 4, {"--hold"}));
    ASSERT_TRUE(probe.WaitForLine("wrote 4"));
    const auto view = RawQueueView::Open(name.name());
    ASSERT_TRUE(view);
    ASSERT_EQ(view->size(), 16589056u);
    const uint32_t header[16] = {4, 4, 0, 2, 64, 5529728, 11059392, 96, 5529760, 11059424, 0, 0, 0, 0, 0, 0};
    for (size_t word = 0; word < 16; ++word) EXPECT_EQ(view->Word(word * 4), header[word]) << "word " << word;
    // Padded strides 96/48/80 packed to 64/32/32.
    const uint32_t record[5] = {64, 48, 64, 32, 32};
    for (size_t field = 0; field < 5; ++field) EXPECT_EQ(view->Word(5529728 + field * 4), record[field]);
    // Frames 1..4 went to slots 1, 2, 0, 1.
    EXPECT_EQ(CounterInSlot(*view, 96), 3u);
    EXPECT_EQ(CounterInSlot(*view, 5529760), 4u);
    EXPECT_EQ(CounterInSlot(*view, 11059424), 2u);

    probe.Release();
    ASSERT_TRUE(probe.WaitForLine("closed"));
    EXPECT_EQ(probe.WaitForExit(), 0);
    EXPECT_EQ(view->Word(12), 3u);
    EXPECT_FALSE(name.Exists());
}

TEST(CameraQueueProcessTest, SecondWriterProcessIsRefusedWhileTheFirstLives) {
    ScopedQueueName name;
    auto writer = SharedMemoryCameraQueue::CreateWriter(name.name(), kCameraQueueFrameCapacity);
    ASSERT_TRUE(writer);
    {
        WriterProbeProcess refused(ProbeArguments(name, 1));
        EXPECT_TRUE(refused.WaitForLine("refused"));
        EXPECT_EQ(refused.WaitForExit(), 2);
    }
    writer.reset();
    WriterProbeProcess accepted(ProbeArguments(name, 1));
    EXPECT_TRUE(accepted.WaitForLine("opened"));
    EXPECT_EQ(accepted.WaitForExit(), 0);
}

TEST(CameraQueueProcessTest, KilledWritersObjectIsTakenOverAndItsReaderFollows) {
    ScopedQueueName name;
    WriterProbeProcess probe(ProbeArguments(name, 3, {"--hold"}));
    ASSERT_TRUE(probe.WaitForLine("wrote 3"));
    const auto reader = CameraQueueReader::Open(name.name());
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->ReadFrame(nullptr, nullptr));
    probe.Kill();
    ASSERT_TRUE(name.Exists());  // a killed writer cannot unlink its object

    OpenResult result = OpenResult::Failed;
    const auto writer = SharedMemoryCameraQueue::CreateWriter(name.name(), kCameraQueueFrameCapacity, &result);
    ASSERT_TRUE(writer);
    EXPECT_EQ(result, OpenResult::Reused);
    EXPECT_EQ(reader->Refresh(), 0u);  // fresh again: nothing to read yet
    EXPECT_FALSE(reader->ReadFrame(nullptr, nullptr));

    TestPicture picture(64, 48);
    picture.FillPattern(77);
    writer->WriteFrame(picture.planes(), picture.strides(), picture.width(), picture.height());
    struct Seen {
        bool whole = false;
        uint32_t frame = 0;
    } seen;
    const auto check = [](const uint8_t* const planes[3], const uint32_t lines[3], const uint32_t width,
                          const uint32_t height, void* user) {
        auto* const s = static_cast<Seen*>(user);
        s->whole = TestPicture::CheckPattern(planes, lines, width, height, &s->frame);
    };
    EXPECT_TRUE(reader->ReadFrame(check, &seen));
    EXPECT_TRUE(seen.whole);
    EXPECT_EQ(seen.frame, 77u);
}

// Copies the slot out as fast as possible; the pattern is checked on the
// copy afterwards, and only for reads the reader calls whole.
struct SoakCopy {
    std::vector<uint8_t> bytes[3];
    uint32_t lines[3] = {};
    uint32_t width = 0;
    uint32_t height = 0;
};

void CopySlot(const uint8_t* const planes[3], const uint32_t lines[3], const uint32_t width, const uint32_t height,
              void* user) {
    auto* const copy = static_cast<SoakCopy*>(user);
    copy->width = width;
    copy->height = height;
    for (int plane = 0; plane < 3; ++plane) {
        copy->lines[plane] = lines[plane];
        const size_t rows = plane == 0 ? height : height / 2;
        copy->bytes[plane].assign(planes[plane], planes[plane] + rows * lines[plane]);
    }
}

TEST(CameraQueueProcessTest, SoakReadsNoTornFrame) {
    constexpr int kFrames = 2000;  // a few seconds: each frame is written and then 0.5 ms pass
    ScopedQueueName name;
    WriterProbeProcess probe(ProbeArguments(name, kFrames, {"--period-us", "500", "--width", "640", "--height", "360"}));
    ASSERT_TRUE(probe.WaitForLine("opened"));
    const auto reader = CameraQueueReader::Open(name.name());
    ASSERT_TRUE(reader);
    const auto view = RawQueueView::Open(name.name());
    ASSERT_TRUE(view);

    int whole = 0;
    int torn = 0;
    int overwritten = 0;
    uint32_t lastFrame = 0;
    bool backwards = false;
    SoakCopy copy;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (view->Word(0) < static_cast<uint32_t>(kFrames) && std::chrono::steady_clock::now() < deadline) {
        const CameraQueueReader::ReadResult result = reader->Read(CopySlot, &copy);
        if (result == CameraQueueReader::ReadResult::Overwritten) ++overwritten;
        if (result != CameraQueueReader::ReadResult::Frame) continue;
        const uint8_t* const planes[3] = {copy.bytes[0].data(), copy.bytes[1].data(), copy.bytes[2].data()};
        uint32_t frame = 0;
        if (!TestPicture::CheckPattern(planes, copy.lines, copy.width, copy.height, &frame)) {
            ++torn;
            continue;
        }
        ++whole;
        backwards = backwards || frame < lastFrame;
        lastFrame = frame;
    }
    EXPECT_TRUE(probe.WaitForLine("wrote"));
    EXPECT_EQ(probe.WaitForExit(), 0);
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(backwards);
    EXPECT_GE(whole, 20) << "overwritten " << overwritten;
    RecordProperty("wholeFrames", whole);
    RecordProperty("overwrittenCopies", overwritten);
}

}  // namespace
