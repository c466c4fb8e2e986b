// The device link: what counts as a missing driver, exact blocks, a full
// pipe, a reader that goes away.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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

// A FIFO that another user made where the link is looked for (/tmp without
// XDG_RUNTIME_DIR): that user reads it, so not a byte may reach it.
namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

// Made by root and given to another user; empty when this process cannot.
std::string ForeignFifo(const QTemporaryDir& dir, mode_t mode) {
    const std::string path = dir.filePath("ZuAudioDeviceLink").toStdString();
    if (::mkfifo(path.c_str(), 0600) != 0 || ::chown(path.c_str(), kOtherUser, kOtherUser) != 0 ||
        ::chmod(path.c_str(), mode) != 0) {
        return std::string();
    }
    return path;
}

int OpenReader(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

size_t Readable(int fd) {
    uint8_t chunk[4096];
    size_t total = 0;
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) total += static_cast<size_t>(got);
    return total;
}

}  // namespace

TEST(AudioDeviceLink, AnotherUsersFifoIsRefusedWhateverItsMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a FIFO to another user";
    for (const mode_t mode : {0622, 0666, 0600}) {
        QTemporaryDir dir;
        const std::string path = ForeignFifo(dir, mode);
        ASSERT_FALSE(path.empty()) << std::oct << mode;
        const int reader = OpenReader(path);  // the other user, listening
        ASSERT_GE(reader, 0);
        AudioDeviceLink link;
        EXPECT_EQ(link.Open(path), Open::kNotOwned) << std::oct << mode;
        EXPECT_FALSE(link.isOpen());
        const std::vector<uint8_t> block(3840, 0x55);
        EXPECT_EQ(link.Write(block.data(), block.size()), Write::kFailed);
        EXPECT_EQ(Readable(reader), 0u);
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_uid, kOtherUser);  // left as it was
        EXPECT_EQ(after.st_mode & 0777, mode);
        ::close(reader);
    }
}

TEST(AudioDeviceLink, AUserWhoseRuntimeFolderIsMissingIsNotLuredIntoAnotherUsersFifo) {
    // The issue's own shape, with a real second user: root plants a FIFO that
    // everyone may write; a process running as another user opens the link.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0755), 0);
    const std::string path = dir.filePath("ZuAudioDeviceLink").toStdString();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0622), 0);
    const int reader = OpenReader(path);
    ASSERT_GE(reader, 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0) ::_exit(100);
        AudioDeviceLink link;
        const Open result = link.Open(path);
        const uint8_t block[64] = {1};
        if (link.isOpen()) (void)link.Write(block, sizeof block);
        ::_exit(static_cast<int>(result));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 100) << "the child could not become another user";
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(Open::kNotOwned));
    EXPECT_EQ(Readable(reader), 0u);
    ::close(reader);
}

TEST(AudioDeviceLink, OurOwnFifoOpenToOthersIsMadeOwnerOnlyBeforeItIsFed) {
    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    ASSERT_EQ(::chmod(fifo.path().c_str(), 0666), 0);  // as the audio server makes it
    ASSERT_TRUE(fifo.OpenReader());
    AudioDeviceLink link;
    ASSERT_EQ(link.Open(fifo.path()), Open::kOpened);
    struct stat after {};
    ASSERT_EQ(::stat(fifo.path().c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    const std::vector<uint8_t> block(3840, 0x11);
    ASSERT_EQ(link.Write(block.data(), block.size()), Write::kWritten);
    EXPECT_EQ(fifo.ReadAvailable(), block);
}

TEST(AudioDeviceLink, ALinkAtThePathIsNotFollowedEvenToOurOwnFifo) {
    FifoReader fifo;
    ASSERT_TRUE(fifo.made());
    ASSERT_TRUE(fifo.OpenReader());
    QTemporaryDir dir;
    const std::string planted = dir.filePath("ZuAudioDeviceLink").toStdString();
    ASSERT_EQ(::symlink(fifo.path().c_str(), planted.c_str()), 0);
    AudioDeviceLink link;
    EXPECT_EQ(link.Open(planted), Open::kLink);
    EXPECT_FALSE(link.isOpen());
    EXPECT_TRUE(fifo.ReadAvailable().empty());
}
