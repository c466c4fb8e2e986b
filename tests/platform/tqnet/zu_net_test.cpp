#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/http/scripted_http_server.h"
#include "tqnet/zu_net.h"

using namespace std::chrono_literals;
using Zu_Client::ZuNet;
using Zu_Client::ZuResponse;
using Zu_Client::ZuTransferLimits;
using zucam::test::HttpPeer;
using zucam::test::HttpRequestHead;
using zucam::test::ScriptedHttpServer;

namespace {

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + 7) & 0xff);
    return bytes;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the progress callback saw, and when to say stop.
struct ProgressLog {
    std::vector<double> values;
    std::vector<std::thread::id> threads;
    int cancelAfter = -1;  // calls before answering -1; -1 never

    static int callback(void* user, double progress) {
        auto* log = static_cast<ProgressLog*>(user);
        log->values.push_back(progress);
        log->threads.push_back(std::this_thread::get_id());
        if (log->cancelAfter >= 0 && int(log->values.size()) > log->cancelAfter) return -1;
        return 0;
    }
};

class DownloadTest : public testing::Test {
protected:
    std::string target() const { return (dir.path() + "/installer.exe").toStdString(); }
    QString targetQ() const { return dir.path() + "/installer.exe"; }
    bool leftovers() const { return QFile::exists(targetQ() + ".part"); }
    QTemporaryDir dir;
};

TEST_F(DownloadTest, WholeBodyLandsUnderItsNameWithProgressOnTheCallingThread) {
    const std::string body = pattern(700 * 1024);
    ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) {
        peer.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
        // In pieces, so that progress comes more than once.
        for (size_t at = 0; at < body.size(); at += 100 * 1024) {
            if (!peer.send(body.substr(at, 100 * 1024)) || !peer.pause(50ms)) return;
        }
    });
    ProgressLog log;
    const ZuResponse response = ZuNet::downLoad(server.url("/files/setup.bin"), target(), true, 0,
                                                &ProgressLog::callback, &log);
    EXPECT_EQ(response.statusCode, 200) << response.error;
    EXPECT_EQ(response.bytes, int64_t(body.size()));
    EXPECT_EQ(readFile(targetQ()), QByteArray::fromStdString(body));
    EXPECT_FALSE(leftovers());
    ASSERT_GE(log.values.size(), 2u);
    for (size_t i = 1; i < log.values.size(); ++i) EXPECT_GE(log.values[i], log.values[i - 1]);
    EXPECT_DOUBLE_EQ(log.values.back(), 1.0);
    for (const std::thread::id id : log.threads) EXPECT_EQ(id, std::this_thread::get_id());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].target, "/files/setup.bin");
}

// Answers that must never count as a complete file; an older file under the
// name stays as it was.
struct FailedDownloadCase {
    const char* name;
    std::function<void(HttpPeer&)> answer;
    int expectedStatus;
};

class FailedDownloadTest : public DownloadTest, public testing::WithParamInterface<FailedDownloadCase> {};

TEST_P(FailedDownloadTest, LeavesNoFileAndKeepsTheOldOne) {
    {
        QFile old(targetQ());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old installer");
    }
    ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) { GetParam().answer(peer); });
    ZuTransferLimits limits;
    limits.maxBytes = 64 * 1024;
    limits.idleTimeoutMs = 300;
    const auto started = std::chrono::steady_clock::now();
    const ZuResponse response = ZuNet::downLoad(server.url("/i"), target(), true, nullptr, nullptr, limits);
    EXPECT_EQ(response.statusCode, GetParam().expectedStatus) << response.error;
    EXPECT_FALSE(response.error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_EQ(readFile(targetQ()), QByteArray("old installer"));
    EXPECT_FALSE(leftovers());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FailedDownloadTest,
    testing::Values(
        FailedDownloadCase{"NotFound", [](HttpPeer& p) { p.reply(404, "no such file"); }, 404},
        FailedDownloadCase{"ServerError", [](HttpPeer& p) { p.reply(500, "broken"); }, 500},
        FailedDownloadCase{"CutShort",
                           [](HttpPeer& p) { p.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + pattern(500)); },
                           Zu_Client::kZuNetworkError},
        FailedDownloadCase{"SilentAfterHead",
                           [](HttpPeer& p) {
                               p.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + pattern(10));
                               p.pause(10s);
                           },
                           Zu_Client::kZuTimedOut},
        FailedDownloadCase{"SilentBeforeHead", [](HttpPeer& p) { p.pause(10s); }, Zu_Client::kZuTimedOut},
        FailedDownloadCase{"AnnouncesTooMuch",
                           [](HttpPeer& p) {
                               p.send("HTTP/1.1 200 OK\r\nContent-Length: 999999999\r\n\r\n");
                               p.pause(10s);
                           },
                           Zu_Client::kZuTooLarge},
        FailedDownloadCase{"FloodsWithoutLength",
                           [](HttpPeer& p) {
                               p.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
                               const std::string block = pattern(16 * 1024);
                               while (p.send(block)) {
                               }
                           },
                           Zu_Client::kZuTooLarge},
        FailedDownloadCase{"Garbage", [](HttpPeer& p) { p.send("SSH-2.0-OpenSSH\r\n\r\n"); },
                           Zu_Client::kZuNetworkError}),
    [](const testing::TestParamInfo<FailedDownloadCase>& param) { return std::string(param.param.name); });

TEST_F(DownloadTest, CancelStopsATrickleAndASilentPeerWithinATick) {
    for (const bool silent : {false, true}) {
        ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) {
            peer.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
            while (peer.send(silent ? std::string() : std::string(10, 'x')) && peer.pause(silent ? 10s : 20ms)) {
            }
        });
        ProgressLog log;
        log.cancelAfter = 2;
        const auto started = std::chrono::steady_clock::now();
        const ZuResponse response =
            ZuNet::downLoad(server.url("/slow"), target(), true, 0, &ProgressLog::callback, &log);
        EXPECT_EQ(response.statusCode, Zu_Client::kZuCancelled) << silent;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << silent;
        EXPECT_FALSE(QFile::exists(targetQ()));
        EXPECT_FALSE(leftovers());
    }
}

TEST_F(DownloadTest, RefusesOtherSchemesAndAnExistingFileWhenAskedNotToReplace) {
    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "not a url", "http://"}) {
        EXPECT_EQ(ZuNet::downLoad(url, target(), true, 0, nullptr, nullptr).statusCode, Zu_Client::kZuBadUrl) << url;
    }
    QFile old(targetQ());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "new"); });
    EXPECT_EQ(ZuNet::downLoad(server.url("/"), target(), false, 0, nullptr, nullptr).statusCode,
              Zu_Client::kZuFileError);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(DownloadTest, RefusedConnectionIsANetworkError) {
    uint16_t port = 0;
    {
        ScriptedHttpServer gone([](const HttpRequestHead&, HttpPeer&) {});
        port = gone.port();
    }
    const ZuResponse response = ZuNet::downLoad("http://127.0.0.1:" + std::to_string(port) + "/x", target(), true,
                                                0, nullptr, nullptr);
    EXPECT_EQ(response.statusCode, Zu_Client::kZuNetworkError);
}

TEST_F(DownloadTest, FollowsARedirectToTheFile) {
    ScriptedHttpServer server([](const HttpRequestHead& request, HttpPeer& peer) {
        if (request.target == "/latest") {
            peer.send("HTTP/1.1 302 Found\r\nLocation: /v2/setup\r\nContent-Length: 0\r\n\r\n");
        } else {
            peer.reply(200, "installer v2");
        }
    });
    EXPECT_EQ(ZuNet::downLoad(server.url("/latest"), target(), true, 0, nullptr, nullptr).statusCode, 200);
    EXPECT_EQ(readFile(targetQ()), QByteArray("installer v2"));
}

TEST(ZuNetGet, BodyWithinLimitsAndDeadline) {
    ScriptedHttpServer server([](const HttpRequestHead& request, HttpPeer& peer) {
        if (request.target == "/ok") {
            peer.reply(200, "{\"errcode\":0}", "application/json");
        } else if (request.target == "/silent") {
            peer.pause(10s);
        } else if (request.target == "/trickle") {
            peer.send("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
            while (peer.send("x") && peer.pause(50ms)) {
            }
        } else {
            peer.send("HTTP/1.1 200 OK\r\n\r\n");
            while (peer.send(std::string(8192, 'y'))) {
            }
        }
    });
    ZuTransferLimits limits;
    limits.maxBytes = 64 * 1024;
    limits.totalTimeoutMs = 400;
    const ZuResponse ok = ZuNet::get(server.url("/ok"), limits);
    EXPECT_EQ(ok.statusCode, 200);
    EXPECT_EQ(ok.body, "{\"errcode\":0}");
    for (const char* path : {"/silent", "/trickle"}) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(ZuNet::get(server.url(path), limits).statusCode, Zu_Client::kZuTimedOut) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << path;
    }
    EXPECT_EQ(ZuNet::get(server.url("/flood"), limits).statusCode, Zu_Client::kZuTooLarge);
}

}  // namespace
