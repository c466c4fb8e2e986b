#include <QTest>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "dowload_thread.h"
#include "support/http/scripted_http_server.h"
#include "support/tether_environment.h"

using namespace std::chrono_literals;
using zucam::test::HttpPeer;
using zucam::test::HttpRequestHead;
using zucam::test::ScriptedHttpServer;
using zucam::test::Transport;

// Stands for the download dialog: records the calls it receives.
class DownloadReceiver : public QObject {
    Q_OBJECT

public:
    QList<int> progress;
    QStringList completed;
    int errors = 0;

public slots:
    void OnDownloadProgress(int percent) { progress.append(percent); }
    void OnDownloadCompleted(QString path) { completed.append(path); }
    void OnDownloadError() { ++errors; }
};

namespace {

// The installer comes over https only: the servers speak TLS with the test
// certificate, which this process trusts.
class DowloadThreadTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zucam::test::TrustTestCertificate()); }
    // Starts the thread; it deletes itself when done, so only a guard is kept.
    QPointer<DowloadThread> start(const std::string& url) {
        auto* thread = new DowloadThread(&receiver, QString::fromStdString(url), savePath());
        thread->start();
        return thread;
    }
    bool waitGone(const QPointer<DowloadThread>& thread) {
        return QTest::qWaitFor([&] { return thread.isNull(); }, 15000);
    }
    QString savePath() const { return dir.path() + "/installer.exe"; }
    zucam::test::TetherEnvironment tether;
    QTemporaryDir dir;
    DownloadReceiver receiver;
};

TEST_F(DowloadThreadTest, ProgressRisesToAtMost99InDistinctStepsThenCompletes) {
    const std::string body(400 * 1024, 'z');
    ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) {
        peer.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
        for (size_t at = 0; at < body.size(); at += 40 * 1024) {
            if (!peer.send(body.substr(at, 40 * 1024)) || !peer.pause(20ms)) return;
        }
    }, Transport::kTls);
    const auto thread = start(server.url("/setup"));
    ASSERT_TRUE(waitGone(thread));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !receiver.completed.isEmpty(); }, 5000));
    EXPECT_EQ(receiver.completed, QStringList{savePath()});
    EXPECT_EQ(receiver.errors, 0);
    ASSERT_FALSE(receiver.progress.isEmpty());
    for (int i = 1; i < receiver.progress.size(); ++i) EXPECT_GT(receiver.progress[i], receiver.progress[i - 1]);
    EXPECT_EQ(receiver.progress.last(), 99);
}

TEST_F(DowloadThreadTest, ProgressValuesMapToTheBarAndRepeatsAreNotPosted) {
    DowloadThread thread(&receiver, "https://127.0.0.1/", savePath());
    for (const double value : {0.0, 0.5, 0.5, 0.501, 1.0}) EXPECT_EQ(DowloadThread::OnProgress(&thread, value), 0);
    QTest::qWait(50);
    EXPECT_EQ(receiver.progress, (QList<int>{0, 49, 99}));
    thread.Cancel();
    EXPECT_EQ(DowloadThread::OnProgress(&thread, 0.7), -1);
}

TEST_F(DowloadThreadTest, FailureIsLoggedAndReportedOnce) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(404, "gone"); }, Transport::kTls);
    const auto thread = start(server.url("/missing"));
    ASSERT_TRUE(waitGone(thread));
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.errors == 1; }, 5000));
    EXPECT_TRUE(receiver.completed.isEmpty());
    EXPECT_EQ(zucam::test::CountInLog(QString::fromStdString("download " + server.url("/missing") + " failed, error: 404")), 1);
}

TEST_F(DowloadThreadTest, CancelFromTheGuiThreadEndsASilentDownloadPromptlyWithoutResult) {
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) {
        peer.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nabc");
        peer.pause(20s);
    }, Transport::kTls);
    const auto thread = start(server.url("/stall"));
    QTest::qWait(300);
    ASSERT_FALSE(thread.isNull());
    QElapsedTimer clock;
    clock.start();
    thread->Cancel();
    thread->wait();
    EXPECT_LT(clock.elapsed(), 1000);
    ASSERT_TRUE(waitGone(thread));
    QTest::qWait(100);
    EXPECT_TRUE(receiver.completed.isEmpty());
    EXPECT_EQ(receiver.errors, 0);
}

}  // namespace

#include "dowload_thread_test.moc"
