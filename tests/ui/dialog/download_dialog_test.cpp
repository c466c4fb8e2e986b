#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "download-dialog.h"
#include "support/http/scripted_http_server.h"
#include "support/tether_environment.h"

using namespace std::chrono_literals;
using zucam::test::HttpPeer;
using zucam::test::HttpRequestHead;
using zucam::test::ScriptedHttpServer;
using zucam::test::Transport;

namespace {

// The installer comes over https only: the servers speak TLS with the test
// certificate, which this process trusts.
class DownloadDialogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zucam::test::TrustTestCertificate()); }
    template <typename T>
    T* child(QDialog* dialog, const char* name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString savePath() const { return dir.path() + "/installer.exe"; }
    zucam::test::TetherEnvironment tether;
    QTemporaryDir dir;
};

TEST_F(DownloadDialogTest, ShowsTheFormAndNoKeyClosesIt) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.pause(20s); }, Transport::kTls);
    QPointer<DownloadDialog> dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    dialog->show();
    EXPECT_EQ(child<QProgressBar>(dialog, "progressBar")->value(), 24);
    EXPECT_EQ(child<QLabel>(dialog, "label_downloading")->text(), "正在下载");
    EXPECT_FALSE(child<QPushButton>(dialog, "pushButton_open_site")->isVisible());
    for (const int key : {int(Qt::Key_Escape), int(Qt::Key_Return), int(Qt::Key_Space)}) {
        QTest::keyClick(dialog.data(), Qt::Key(key));
    }
    QTest::qWait(50);
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    QElapsedTimer clock;
    clock.start();
    child<QPushButton>(dialog, "pushButton_download_cancel")->click();  // cancels, waits, closes, deletes
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));
}

TEST_F(DownloadDialogTest, DeletingMidDownloadWaitsForTheThreadBriefly) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) {
        peer.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nab");
        peer.pause(20s);
    }, Transport::kTls);
    auto* dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    delete dialog;  // the thread must not outlive it while it can still call it
    EXPECT_LT(clock.elapsed(), 1000);
    QTest::qWait(200);
}

TEST_F(DownloadDialogTest, NotFoundShowsTheDownloadErrorAndTheSiteButton) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(404, "gone"); }, Transport::kTls);
    QPointer<DownloadDialog> dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    dialog->show();
    auto* label = child<QLabel>(dialog, "label_downloading");
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == DownloadDialog::kDownloadErrorText; }, 10000));
    EXPECT_EQ(label->styleSheet(), "color:red;");
    // An error page is no progress: the bar shows the form's 24, or 0 when a
    // tick reported the empty progress while the TLS handshake was still on.
    const int bar = child<QProgressBar>(dialog, "progressBar")->value();
    EXPECT_TRUE(bar == 24 || bar == 0) << bar;
    EXPECT_TRUE(child<QPushButton>(dialog, "pushButton_open_site")->isVisible());
    EXPECT_FALSE(child<QPushButton>(dialog, "pushButton_download_minimize")->isVisible());
    delete dialog;
}

TEST_F(DownloadDialogTest, ACancelAfterTheLastByteStartsNoUpdater) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.pause(20s); }, Transport::kTls);
    QPointer<DownloadDialog> dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    // The completion is already queued when the user's cancel is handled.
    QMetaObject::invokeMethod(dialog, "OnDownloadCompleted", Qt::QueuedConnection, Q_ARG(QString, savePath()));
    child<QPushButton>(dialog, "pushButton_download_cancel")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));
    // A hand-off attempt would have logged the missing updater.
    EXPECT_EQ(zucam::test::CountInLog("copy updaer error"), 0);
}

TEST_F(DownloadDialogTest, CompletedDownloadWithoutAnUpdaterShowsTheStartError) {
    // The test program's folder holds no "updater".
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "installer bytes"); }, Transport::kTls);
    QPointer<DownloadDialog> dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    auto* label = child<QLabel>(dialog, "label_downloading");
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == DownloadDialog::kInstallErrorText; }, 10000));
    EXPECT_EQ(child<QProgressBar>(dialog, "progressBar")->value(), 100);
    EXPECT_EQ(zucam::test::CountInLog("copy updaer error"), 1);
    delete dialog;
}

// What must never reach the updater: a plain-http installer, a redirect
// from https to http, a body shorter than announced.
TEST_F(DownloadDialogTest, UnsafeOrLyingDownloadsEndInTheDownloadError) {
    ScriptedHttpServer plain([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "installer over http"); });
    ScriptedHttpServer server(
        [&](const HttpRequestHead& request, HttpPeer& peer) {
            if (request.target == "/to-http") {
                peer.send("HTTP/1.1 302 Found\r\nLocation: " + plain.url("/i") + "\r\nContent-Length: 0\r\n\r\n");
            } else {
                peer.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nonly part of it");
            }
        },
        Transport::kTls);
    for (const std::string& url : {plain.url("/i"), server.url("/to-http"), server.url("/lying")}) {
        QPointer<DownloadDialog> dialog = new DownloadDialog(QString::fromStdString(url), nullptr, savePath());
        auto* label = child<QLabel>(dialog, "label_downloading");
        EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == DownloadDialog::kDownloadErrorText; }, 10000)) << url;
        EXPECT_FALSE(QFile::exists(savePath())) << url;
        delete dialog;
    }
    EXPECT_TRUE(plain.requests().empty());
}

// A peer that sends a byte every 5 s (never idle) and one that sends nothing
// after the head both end in the error state: fewer than 16 KiB in 20 s ends
// a download, so within 20 s and a tick.
TEST_F(DownloadDialogTest, TricklingAndIdleServersEndInTheErrorStateWithin20Seconds) {
    ScriptedHttpServer server(
        [](const HttpRequestHead& request, HttpPeer& peer) {
            peer.send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
            const bool trickle = request.target == "/trickle";
            while (peer.send(trickle ? "x" : "") && peer.pause(5s)) {
            }
        },
        Transport::kTls);
    QElapsedTimer clock;
    clock.start();
    QPointer<DownloadDialog> trickling =
        new DownloadDialog(QString::fromStdString(server.url("/trickle")), nullptr, dir.path() + "/a.exe");
    QPointer<DownloadDialog> idle =
        new DownloadDialog(QString::fromStdString(server.url("/idle")), nullptr, dir.path() + "/b.exe");
    for (DownloadDialog* dialog : {trickling.data(), idle.data()}) {
        auto* label = child<QLabel>(dialog, "label_downloading");
        EXPECT_TRUE(QTest::qWaitFor([&] { return label->text() == DownloadDialog::kDownloadErrorText; }, 25000));
    }
    EXPECT_LT(clock.elapsed(), 22000);
    EXPECT_GE(clock.elapsed(), 19000);
    delete trickling;
    delete idle;
}

// The whole update over https: the probe (standing for the program, with the
// updater beside it) downloads a stand-in installer, starts the updater with
// "\"<updater copy>\" <pid> \"<installer>\" \"<program>\"" and exits 0; the
// updater waits for it, runs the installer, then starts the program again.
TEST_F(DownloadDialogTest, EndToEndTheUpdaterRunsTheInstallerAfterTheProgramExitedThenStartsItAgain) {
    const QString marks = dir.path() + "/marks.txt";
    const std::string installer = "#!/bin/sh\nprintf 'installed\\n' >> \"$ZUCAM_STANDIN_MARK\"\n";
    ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, installer); },
                              Transport::kTls);
    const QString dataDir = dir.path() + "/data dir/Zu Cam";
    ASSERT_TRUE(QDir().mkpath(dataDir));
    const QString installerPath = dataDir + "/installer.exe";
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZUCAM_STANDIN_MARK", marks);
    environment.insert("ZUCAM_TEST_CA", QString::fromStdString(zucam::test::TestTlsCertificate().certificatePath));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    probe.setProcessEnvironment(environment);
    probe.start(HAND_OFF_PROBE, {QString::fromStdString(server.url("/setup")), installerPath});
    ASSERT_TRUE(probe.waitForStarted(10000));
    const qint64 pid = probe.processId();
    ASSERT_TRUE(probe.waitForFinished(20000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile file(marks);
            return file.open(QIODevice::ReadOnly) && file.readAll() == "installed\nstarted\n";
        },
        15000));
    QFile log(dataDir + "/updater.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    const QString program = QFileInfo(HAND_OFF_PROBE).canonicalFilePath();
    EXPECT_TRUE(logText.contains(QString("started for process %1, installer \"%2\", program \"%3\"")
                                     .arg(pid)
                                     .arg(installerPath, program)))
        << logText.toStdString();
    EXPECT_TRUE(logText.contains("done")) << logText.toStdString();
    EXPECT_TRUE(QFileInfo(dataDir + "/updater").isExecutable());
}

// Saves what the dialog looks like when ZUCAM_SHOT_DIR names a folder.
TEST_F(DownloadDialogTest, Screenshot) {
    const QString shots = qEnvironmentVariable("ZUCAM_SHOT_DIR");
    if (shots.isEmpty()) GTEST_SKIP() << "set ZUCAM_SHOT_DIR to save screenshots";
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(404, "gone"); }, Transport::kTls);
    DownloadDialog* dialog = new DownloadDialog(QString::fromStdString(server.url("/i")), nullptr, savePath());
    dialog->resize(420, 140);
    dialog->show();
    EXPECT_TRUE(dialog->grab().save(shots + "/download-dialog-downloading.png"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->findChild<QPushButton*>("pushButton_open_site")->isVisible(); }, 10000));
    EXPECT_TRUE(dialog->grab().save(shots + "/download-dialog-error.png"));
    delete dialog;
}

}  // namespace
