// The device link: what counts as a missing driver, exact blocks, a full
// pipe, a reader that goes away.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

#include "devices/audio/audio_device_link.h"
#include "fifo_reader.h"

using Open = AudioDeviceLink::OpenResult;
using Write = AudioDeviceLink::WriteResult;

TEST(AudioDeviceLink, RefusesWhatIsNotADriverFifoAndNeverCreatesOne) {
    QTemporaryDir dir;
    AudioDeviceLink link;
    const std::string missing = dir.filePath("ZuAudioDeviceLink").toStdString();
    EXPECT_EQ(link.Open(missing), Open::kMissing);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(missing)));
    EXPECT_EQ(link.Open(dir.filePath("no/such/dir").toStdString()), Open::kMissing);

    QFile regular(dir.filePath("regular"));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    EXPECT_EQ(link.Open(regular.fileName().toStdString()), Open::kNotFifo);
    EXPECT_EQ(link.Open(dir.path().toStdString()), Open::kFailed);  // a directory: EISDIR

    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    EXPECT_EQ(link.Open(fifo.path()), Open::kNoReader);
    EXPECT_FALSE(link.isOpen());
}

TEST(AudioDeviceLink, DefaultPathFollowsXdgRuntimeDirAndTheTestingOverride) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string restore = saved != nullptr ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
    EXPECT_EQ(AudioDeviceLink::DefaultPath(), "/run/user/1234/ZuAudioDeviceLink");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(AudioDeviceLink::DefaultPath(), "/tmp/ZuAudioDeviceLink");
    SetAudioDeviceLinkPathForTesting("/elsewhere/link");
    EXPECT_EQ(AudioDeviceLink::DefaultPath(), "/elsewhere/link");
    SetAudioDeviceLinkPathForTesting("");
    if (saved != nullptr) ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
}

TEST(AudioDeviceLink, WritesWholeBlocksDropsWhenFullAndSurvivesALostReader) {
    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    ASSERT_TRUE(fifo.OpenReader());
    AudioDeviceLink link;
    ASSERT_EQ(link.Open(fifo.path()), Open::kOpened);

    std::vector<uint8_t> block(3840);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(link.Write(block.data(), block.size()), Write::kWritten);
    EXPECT_EQ(fifo.ReadAvailable(), block);

    // Nobody reads: the pipe fills and later blocks are dropped, never half
    // written (each write stays a whole number of PIPE_BUF pieces).
    int written = 0;
    Write last = Write::kWritten;
    while (written < 10000 && (last = link.Write(block.data(), block.size())) == Write::kWritten) ++written;
    EXPECT_EQ(last, Write::kPending);
    EXPECT_GT(written, 0);
    const std::vector<uint8_t> queued = fifo.ReadAvailable();
    EXPECT_EQ(queued.size(), static_cast<size_t>(written) * block.size());

    // The reader goes: EPIPE, and no SIGPIPE ends this process.
    fifo.CloseReader();
    EXPECT_EQ(link.Write(block.data(), block.size()), Write::kFailed);
}
