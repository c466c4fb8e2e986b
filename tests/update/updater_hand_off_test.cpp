#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "updater_hand_off.h"
#include "support/test_files.h"

namespace {

using zucam::test::readFile;
using zucam::test::writeFile;

// Stands for the updater: records its arguments, one a line, beside itself.
const char kRecordingUpdater[] = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/updater-args.txt\"\n";

struct ProbeRun {
    int exitCode = -1;
    qint64 pid = 0;
};

ProbeRun runProbe(const QString& programDir, const QString& installer, const QString& program) {
    QProcess probe;
    probe.start(HAND_OFF_PROBE, {programDir, installer, program});
    ProbeRun run;
    if (!probe.waitForStarted(10000)) return run;
    run.pid = probe.processId();
    if (!probe.waitForFinished(20000)) return run;
    run.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -1;
    return run;
}

TEST(UpdaterHandOff, InstallerGoesOneFolderAboveTheLog) {
    EXPECT_EQ(InstallerSavePath("/home/u/.local/share/ZuCam/log"), "/home/u/.local/share/ZuCam/installer.exe");
    EXPECT_EQ(InstallerSavePath("/home/u/.local/share/ZuCam/log/"), "/home/u/.local/share/ZuCam/installer.exe");
    EXPECT_EQ(UpdaterCommandLine("/a b/updater", 42, "/c/installer.exe", "/Program Files/zucam"),
              "\"/a b/updater\" 42 \"/c/installer.exe\" \"/Program Files/zucam\"");
}

TEST(UpdaterHandOff, CopiedUpdaterStartsDetachedWithPidInstallerAndProgramThenTheProgramExits0) {
    QTemporaryDir root;
    const QString programDir = root.path() + "/Program Files/Zu Cam";
    const QString dataDir = root.path() + "/data dir/ZuCam";
    ASSERT_TRUE(QDir().mkpath(programDir) && QDir().mkpath(dataDir));
    writeFile(programDir + "/updater", kRecordingUpdater, true);
    writeFile(dataDir + "/updater", "an older updater", true);  // replaced
    const QString installer = dataDir + "/installer.exe";
    writeFile(installer, "installer", false);
    const QString program = programDir + "/zucam";

    const ProbeRun run = runProbe(programDir, installer, program);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(dataDir + "/updater"), QByteArray(kRecordingUpdater));
    const QString recorded = dataDir + "/updater-args.txt";
    ASSERT_TRUE(QTest::qWaitFor([&] { return readFile(recorded).count('\n') == 3; }, 10000));
    EXPECT_EQ(QString::fromUtf8(readFile(recorded)).split('\n', Qt::SkipEmptyParts),
              (QStringList{QString::number(run.pid), installer, program}));
}

TEST(UpdaterHandOff, UpdaterAlreadyBesideTheInstallerIsUsedNotDeleted) {
    QTemporaryDir root;
    writeFile(root.path() + "/updater", kRecordingUpdater, true);
    const QString installer = root.path() + "/installer.exe";
    const ProbeRun run = runProbe(root.path(), installer, root.path() + "/zucam");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readFile(root.path() + "/updater"), QByteArray(kRecordingUpdater));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(root.path() + "/updater-args.txt"); }, 10000));
}

TEST(UpdaterHandOff, WithoutAnUpdaterTheProgramKeepsRunning) {
    QTemporaryDir root;
    ASSERT_TRUE(QDir().mkpath(root.path() + "/prog"));
    const ProbeRun run = runProbe(root.path() + "/prog", root.path() + "/installer.exe", root.path() + "/prog/zucam");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_FALSE(QFile::exists(root.path() + "/updater"));
}

}  // namespace
