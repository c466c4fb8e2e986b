#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/http/scripted_http_server.h"
#include "tqnet/zu_net.h"
#include "support/test_files.h"

using namespace std::chrono_literals;
using Zu_Client::ZuNet;
using Zu_Client::ZuResponse;
using Zu_Client::ZuTransferLimits;
using zucam::test::HttpPeer;
using zucam::test::HttpRequestHead;
using zucam::test::ScriptedHttpServer;
using zucam::test::Transport;

namespace {

using zucam::test::readFile;

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = char((i * 131 + 7) & 0xff);
    return bytes;
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

// Downloads are https only: the servers speak TLS with the test
// certificate, which this process trusts.
class DownloadTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(zucam::test::TrustTestCertificate()); }
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
    }, Transport::kTls);
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
    ScriptedHttpServer server([&](const HttpRequestHead&, HttpPeer& peer) { GetParam().answer(peer); }, Transport::kTls);
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
        }, Transport::kTls);
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
    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "not a url", "https://", "http://127.0.0.1/x"}) {
        EXPECT_EQ(ZuNet::downLoad(url, target(), true, 0, nullptr, nullptr).statusCode, Zu_Client::kZuBadUrl) << url;
    }
    QFile old(targetQ());
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "new"); }, Transport::kTls);
    EXPECT_EQ(ZuNet::downLoad(server.url("/"), target(), false, 0, nullptr, nullptr).statusCode,
              Zu_Client::kZuFileError);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(DownloadTest, RefusedConnectionIsANetworkError) {
    uint16_t port = 0;
    {
        ScriptedHttpServer gone([](const HttpRequestHead&, HttpPeer&) {}, Transport::kTls);
        port = gone.port();
    }
    const ZuResponse response = ZuNet::downLoad("https://127.0.0.1:" + std::to_string(port) + "/x", target(), true,
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
    }, Transport::kTls);
    EXPECT_EQ(ZuNet::downLoad(server.url("/latest"), target(), true, 0, nullptr, nullptr).statusCode, 200);
    EXPECT_EQ(readFile(targetQ()), QByteArray("installer v2"));
}

TEST_F(DownloadTest, PlainHttpIsRefusedAsAreRedirectsToIt) {
    ScriptedHttpServer plain([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "installer over http"); });
    ScriptedHttpServer other([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "installer elsewhere"); },
                             Transport::kTls);
    ScriptedHttpServer server(
        [&](const HttpRequestHead& request, HttpPeer& peer) {
            const std::string location = request.target == "/to-http" ? plain.url("/i") : other.url("/i");
            peer.send("HTTP/1.1 302 Found\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
        },
        Transport::kTls);
    const ZuResponse direct = ZuNet::downLoad(plain.url("/i"), target(), true, 0, nullptr, nullptr);
    EXPECT_EQ(direct.statusCode, Zu_Client::kZuBadUrl);
    const ZuResponse toHttp = ZuNet::downLoad(server.url("/to-http"), target(), true, 0, nullptr, nullptr);
    EXPECT_EQ(toHttp.statusCode, Zu_Client::kZuBadUrl) << toHttp.error;
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_FALSE(QFile::exists(targetQ()));
    EXPECT_FALSE(leftovers());
    const ZuResponse toHttps = ZuNet::downLoad(server.url("/to-https"), target(), true, 0, nullptr, nullptr);
    EXPECT_EQ(toHttps.statusCode, 200) << toHttps.error;
    EXPECT_EQ(readFile(targetQ()), QByteArray("installer elsewhere"));
}

TEST_F(DownloadTest, ACertificateThatDoesNotNameTheHostIsRefused) {
    // The test certificate is for 127.0.0.1 only.
    ScriptedHttpServer server([](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, "installer"); },
                              Transport::kTls);
    const ZuResponse response = ZuNet::downLoad("https://localhost:" + std::to_string(server.port()) + "/i", target(),
                                                true, 0, nullptr, nullptr);
    EXPECT_EQ(response.statusCode, Zu_Client::kZuNetworkError) << response.error;
    EXPECT_TRUE(server.requests().empty());
    EXPECT_FALSE(QFile::exists(targetQ()));
}

// A peer that is never silent long enough for the idle limit still ends:
// too few bytes in a window, or the whole download too long.
TEST_F(DownloadTest, ATricklingOrNeverEndingPeerEndsWithinItsBounds) {
    const struct {
        const char* name;
        std::string piece;
        int windowMs, maxMs;
    } cases[] = {
        {"trickle", "x", 500, 60000},                   // 10 bytes a second, 100 needed in each 0.5 s
        {"never ending", std::string(200, 'x'), 500, 1200},  // fast enough, but 10 MB never come
    };
    for (const auto& c : cases) {
        ScriptedHttpServer server(
            [&](const HttpRequestHead&, HttpPeer& peer) {
                peer.send("HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n");
                while (peer.send(c.piece) && peer.pause(100ms)) {
                }
            },
            Transport::kTls);
        ZuTransferLimits limits;
        limits.idleTimeoutMs = 10000;
        limits.minWindowBytes = 100;
        limits.progressWindowMs = c.windowMs;
        limits.maxDownloadMs = c.maxMs;
        const auto started = std::chrono::steady_clock::now();
        const ZuResponse response = ZuNet::downLoad(server.url("/i"), target(), true, nullptr, nullptr, limits);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(response.statusCode, Zu_Client::kZuTimedOut) << c.name << ": " << response.error;
        EXPECT_LT(took, 3s) << c.name;
        EXPECT_GT(response.bytes, 0) << c.name;
        EXPECT_FALSE(leftovers()) << c.name;
    }
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
