// System: local time formatting per thread, and showing a folder through
// xdg-open.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "running_tether.h"
#include "support/tether_environment.h"

namespace {

class TqSystem : public testing::Test {
protected:
    tq::System& system() { return *zucam::test::runningTether()->system; }

    zucam::test::TetherEnvironment tether_;
};

TEST_F(TqSystem, FormatNowFollowsTheStrftimeFormat) {
    const int yearBefore = QDate::currentDate().year();
    const std::string year = system().formatNow("%Y");
    const int yearAfter = QDate::currentDate().year();
    ASSERT_EQ(year.size(), 4u) << year;
    EXPECT_TRUE(std::stoi(year) == yearBefore || std::stoi(year) == yearAfter) << year;

    const QRegularExpression logStamp("^\\d{4}-\\d{2}:\\d{2}:\\d{2} literal %$");
    EXPECT_TRUE(logStamp.match(QString::fromUtf8(system().formatNow("%m%d-%H:%M:%S literal %%"))).hasMatch());
    EXPECT_STREQ(system().formatNow(""), "");
    EXPECT_STREQ(system().formatNow(std::string(300, 'x').c_str()), "") << "a result too long is given as empty";
}

TEST_F(TqSystem, FormatNowTextsOfThreadsStayTheirOwn) {
    constexpr int kThreads = 8;
    std::atomic<int> corrupted{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([this, thread, &corrupted] {
            const std::string label = "thread " + std::to_string(thread) + std::string(static_cast<size_t>(thread * 5), '#');
            const std::string format = label + " %Y";
            for (int round = 0; round < 3000; ++round) {
                const char* text = system().formatNow(format.c_str());
                std::this_thread::yield();  // let others format meanwhile
                if (std::string(text).compare(0, label.size() + 1, label + " ") != 0) ++corrupted;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(corrupted.load(), 0);
}

TEST_F(TqSystem, OpenFileLocationShowsTheFolderOfThePath) {
    // A stand-in xdg-open on PATH that notes the folder it was given.
    QTemporaryDir bin;
    const QString noted = bin.path() + "/noted";
    const QString script = bin.path() + "/xdg-open";
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QString("#!/bin/sh\nprintf '%s' \"$1\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(noted).toUtf8());
    }
    ASSERT_EQ(chmod(script.toUtf8().constData(), 0755), 0);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8() + ":" + savedPath);

    const QString folder = tether_.dataHome() + "/ZuCam/log";
    struct Case {
        QString path;
        QString shown;
    };
    const std::vector<Case> cases = {
        {folder + "/zucam.log", folder},  // a file: its folder
        {folder, folder},                 // a folder: itself
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.path.toStdString());
        QFile::remove(noted);
        system().openFileLocation(entry.path.toUtf8().constData());
        QDeadlineTimer deadline(10000);
        while (!QFile::exists(noted) && !deadline.hasExpired()) QThread::msleep(10);
        QFile result(noted);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly)) << "xdg-open was not started";
        EXPECT_EQ(QString::fromUtf8(result.readAll()), entry.shown);
    }
    system().openFileLocation(nullptr);
    qputenv("PATH", savedPath);
}

}  // namespace
