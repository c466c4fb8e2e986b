// Screenshots: the PNG holds the cache's picture, the checks come in order
// (folder, picture, probe), a failed save is a failure, a file of the user's
// that carries the probe's name is left alone, and the saver on the thread
// pool can be waited for before the cache goes.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>
#include <unistd.h>

#include "ffmpeg_handles.h"
#include "ui/screenshot-saver.h"
#include "video_sink/stream_video_sink_cache_impl.h"

namespace {

constexpr const char* kStamp = "20261211012345";

// A 16 x 8 YUV420P picture: the top-left quadrant white, the rest black
// (limited range), so that a mirrored or flipped save shows.
AVFramePtr QuadrantFrame(uint8_t topLeftLuma) {
    AVFramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = 16;
    frame->height = 8;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 16; ++x) frame->data[0][y * frame->linesize[0] + x] = (x < 8 && y < 4) ? topLeftLuma : 16;
    }
    for (int plane = 1; plane <= 2; ++plane) {
        for (int y = 0; y < 4; ++y) memset(frame->data[plane] + y * frame->linesize[plane], 128, 8);
    }
    return frame;
}

bool Near(QRgb pixel, int value) {
    return std::abs(qRed(pixel) - value) <= 3 && std::abs(qGreen(pixel) - value) <= 3 &&
           std::abs(qBlue(pixel) - value) <= 3;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

class ScreenShot : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        cache = StreamVideoSinkCacheImpl::Create(1);
        cache->enabled = true;
    }
    void PushPicture(uint8_t topLeftLuma = 235) {
        const AVFramePtr frame = QuadrantFrame(topLeftLuma);
        ASSERT_TRUE(frame);
        cache->Push(frame.get());
    }
    QStringList Entries() const {
        return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString ShotFile() const { return folder.path() + "/ZuCam_shot[" + kStamp + "].png"; }

    QTemporaryDir folder;
    std::unique_ptr<StreamVideoSinkCache> cache;
};

TEST_F(ScreenShot, SavesThePicturesPixelsAsPngAndLeavesNoProbe) {
    PushPicture();
    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp);
    EXPECT_EQ(outcome.error, "");
    ASSERT_EQ(outcome.path, ShotFile());
    QImage saved;
    ASSERT_TRUE(saved.load(outcome.path, "PNG"));
    ASSERT_EQ(saved.size(), QSize(16, 8));
    EXPECT_TRUE(Near(saved.pixel(1, 1), 255)) << std::hex << saved.pixel(1, 1);
    EXPECT_TRUE(Near(saved.pixel(6, 3), 255)) << std::hex << saved.pixel(6, 3);
    EXPECT_TRUE(Near(saved.pixel(12, 1), 0)) << std::hex << saved.pixel(12, 1);
    EXPECT_TRUE(Near(saved.pixel(1, 6), 0)) << std::hex << saved.pixel(1, 6);
    EXPECT_TRUE(Near(saved.pixel(15, 7), 0)) << std::hex << saved.pixel(15, 7);
    // Only the picture: the probe and the save's temporary file are gone.
    EXPECT_EQ(Entries(), QStringList{"ZuCam_shot[20261211012345].png"});
}

TEST_F(ScreenShot, PathHasExactlyOneSlashBeforeTheName) {
    EXPECT_EQ(screenshot::ShotPath("/home/u/Pictures", "1"), "/home/u/Pictures/ZuCam_shot[1].png");
    EXPECT_EQ(screenshot::ShotPath("/home/u/Pictures/", "1"), "/home/u/Pictures/ZuCam_shot[1].png");
    EXPECT_EQ(screenshot::ShotPath("/", "1"), "/ZuCam_shot[1].png");
    PushPicture();
    EXPECT_EQ(screenshot::SaveScreenShot(cache.get(), folder.path() + "/", kStamp).path, ShotFile());
}

TEST_F(ScreenShot, MissingFolderIsToldBeforeAMissingPicture) {
    const QString gone = folder.path() + "/gone";
    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), gone, kStamp);
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(outcome.error, QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
    // A plain file is no folder either.
    QFile plain(folder.path() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(screenshot::SaveScreenShot(cache.get(), plain.fileName(), kStamp).error,
              QString::fromUtf8("输出目录不存在，请前往设置页面重新设置"));
}

TEST_F(ScreenShot, EmptyCacheIsToldAndWritesNothing) {
    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp);
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(outcome.error, QString::fromUtf8("未接收到图像数据，截图失败！"));
    EXPECT_TRUE(Entries().isEmpty());
}

TEST_F(ScreenShot, UnwritableFolderIsToldAndGetsNoPicture) {
    PushPicture();
    // The superuser writes through permission bits, so it gets a folder of
    // the proc file system, where no file can be made.
    QString target = folder.path() + "/read-only";
    if (geteuid() == 0) {
        target = "/proc/self";
    } else {
        ASSERT_TRUE(QDir(folder.path()).mkdir("read-only"));
        ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner));
    }
    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), target, kStamp);
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(outcome.error, QString::fromUtf8("输出目录无法写入，请前往设置页面重新设置"));
    EXPECT_FALSE(QFileInfo::exists(screenshot::ShotPath(target, kStamp)));
    if (geteuid() != 0) QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(ScreenShot, FailedSaveIsReportedAsFailure) {
    PushPicture();
    // The probe can be made, but a folder stands where the picture would go.
    ASSERT_TRUE(QDir(folder.path()).mkdir("ZuCam_shot[20261211012345].png"));
    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp);
    EXPECT_EQ(outcome.path, "");
    EXPECT_EQ(outcome.error, "");
    EXPECT_TRUE(QFileInfo(ShotFile()).isDir());
    EXPECT_EQ(Entries(), QStringList{"ZuCam_shot[20261211012345].png"});
}

TEST_F(ScreenShot, UsersFileWithTheProbesNameIsLeftAlone) {
    PushPicture();
    const QString usersFile = ShotFile() + ".txt";
    QFile file(usersFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("the user's notes, not a probe");
    file.close();
    ASSERT_TRUE(QFile::setPermissions(usersFile, QFile::ReadOwner));

    const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.path, ShotFile());
    EXPECT_EQ(ReadAll(usersFile), QByteArray("the user's notes, not a probe"));
    EXPECT_EQ(QFileInfo(usersFile).permissions() & QFile::WriteOwner, 0);
    EXPECT_EQ(Entries(), (QStringList{"ZuCam_shot[20261211012345].png", "ZuCam_shot[20261211012345].png.txt"}));
}

// Links planted at the shot's name (in a folder others may write), to a file
// of the user's or to nothing: the picture takes the link's place, and the
// link's target is neither written nor made.
TEST_F(ScreenShot, ALinkPlantedAtTheShotsNameIsReplacedAndItsTargetLeftAlone) {
    PushPicture();
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("thesis.odt");
    const QString missing = elsewhere.filePath("not-yet");
    const QByteArray precious = "the user's only copy";
    for (const QString& pointsAt : {target, missing}) {
        if (pointsAt == target) {
            QFile file(target);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(precious) == precious.size());
        }
        ASSERT_EQ(::symlink(QFile::encodeName(pointsAt).constData(), QFile::encodeName(ShotFile()).constData()), 0);
        const screenshot::Outcome outcome = screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp);
        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.path, ShotFile());
        const QFileInfo shot(ShotFile());
        EXPECT_FALSE(shot.isSymLink()) << pointsAt.toStdString();
        EXPECT_TRUE(shot.isFile());
        QImage saved;
        EXPECT_TRUE(saved.load(ShotFile(), "PNG"));
        EXPECT_EQ(Entries(), QStringList{"ZuCam_shot[20261211012345].png"});  // no temporary left
        ASSERT_TRUE(QFile::remove(ShotFile()));
    }
    EXPECT_EQ(ReadAll(target), precious);
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"thesis.odt"});
}

TEST_F(ScreenShot, SecondShotOfTheSameSecondReplacesTheFirst) {
    PushPicture(16);  // all black
    ASSERT_EQ(screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp).path, ShotFile());
    PushPicture(235);
    ASSERT_EQ(screenshot::SaveScreenShot(cache.get(), folder.path(), kStamp).path, ShotFile());
    QImage saved;
    ASSERT_TRUE(saved.load(ShotFile(), "PNG"));
    EXPECT_TRUE(Near(saved.pixel(1, 1), 255));
    EXPECT_EQ(Entries().size(), 1);
}

// The saver emits Finished on the pool's threads; QSignalSpy appends
// unguarded, so the saves are recorded under a lock instead.
class FinishedRecorder {
public:
    explicit FinishedRecorder(ScreenShotSaver* saver) {
        QObject::connect(saver, &ScreenShotSaver::Finished, saver,
                         [this](const QString& path, const QString& error) {
                             std::lock_guard<std::mutex> lock(mutex_);
                             results_.push_back({path, error});
                         }, Qt::DirectConnection);
    }
    std::vector<std::pair<QString, QString>> results() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return results_;
    }
    size_t size() const { return results().size(); }

private:
    mutable std::mutex mutex_;  // guards results_
    std::vector<std::pair<QString, QString>> results_;
};

TEST_F(ScreenShot, SaverReportsFromThePoolAndCanBeWaitedFor) {
    PushPicture();
    std::atomic<int> stamps{0};
    ScreenShotSaver saver(nullptr, [&stamps] { return QString("2026121101%1").arg(++stamps, 4, 10, QChar('0')); });
    FinishedRecorder finished(&saver);
    constexpr int kShots = 6;
    for (int i = 0; i < kShots; ++i) saver.Start(cache.get(), folder.path());
    saver.WaitForPending();
    // Every save has run (the spy records on the emitting thread), so the
    // cache may go now.
    EXPECT_EQ(saver.pending(), 0);
    ASSERT_EQ(finished.size(), static_cast<size_t>(kShots));
    cache.reset();
    for (const auto& result : finished.results()) {
        EXPECT_EQ(result.second, "");
        EXPECT_TRUE(QFileInfo::exists(result.first)) << result.first.toStdString();
    }
    EXPECT_EQ(Entries().size(), kShots);
}

TEST_F(ScreenShot, SaverWithoutCacheStartsNothing) {
    ScreenShotSaver saver;
    QSignalSpy finished(&saver, &ScreenShotSaver::Finished);
    saver.Start(nullptr, folder.path());
    EXPECT_EQ(saver.pending(), 0);
    saver.WaitForPending();
    QCoreApplication::processEvents();
    EXPECT_EQ(finished.size(), 0);
}

TEST_F(ScreenShot, SaverDestructionWaitsForRunningSaves) {
    PushPicture();
    auto saver = std::make_unique<ScreenShotSaver>();
    FinishedRecorder finished(saver.get());
    for (int i = 0; i < 4; ++i) saver->Start(cache.get(), folder.path());
    saver.reset();
    EXPECT_EQ(finished.size(), 4u);
}

}  // namespace
