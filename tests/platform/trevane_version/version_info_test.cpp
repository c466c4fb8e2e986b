#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <json/reader.h>

#include "core/tether/tq.h"
#include "support/http/scripted_http_server.h"
#include "support/tether_environment.h"
#include "trevane/version_info.h"
#include "version_check.h"

using namespace std::chrono_literals;
using zucam::test::HttpPeer;
using zucam::test::HttpRequestHead;
using zucam::test::ScriptedHttpServer;

namespace {

trevane::VersionQuery queryFor(const ScriptedHttpServer& server) {
    trevane::VersionQuery query;
    query.host = server.url("/api");
    query.appVersion = "1.1.8";
    query.productType = 18000;
    return query;
}

Json::Value parsed(const std::string& text) {
    Json::Value value;
    Json::Reader().parse(text, value);
    return value;
}

TEST(VersionInfo, AsksTheHostAndHandsOnItsResultAsText) {
    ScriptedHttpServer host([](const HttpRequestHead&, HttpPeer& peer) {
        peer.reply(200, R"({"errcode":0,"result":{"current_version":"1.2.0","download_url":"http://h/i",)"
                        R"("update_brief":"fixes","configs":{"x":1}}})",
                   "application/json");
    });
    const tq::ValueMap reply = trevane::FetchVersionInfo(queryFor(host), trevane::VersionInfoLimits(), nullptr).toMap();
    EXPECT_EQ(reply["errcode"].toInt(-9), 0);
    const Json::Value result = parsed(reply["result"].toStdString());
    EXPECT_EQ(result["app_version"].asString(), "1.1.8");  // filled in: the host left it out
    EXPECT_EQ(result["current_version"].asString(), "1.2.0");
    EXPECT_EQ(result["configs"]["x"].asInt(), 1);
    ASSERT_EQ(host.requests().size(), 1u);
    EXPECT_EQ(host.requests()[0].target, "/api/version/check?product_type=18000&channel_id=0&version=1.1.8");
}

TEST(VersionInfo, LyingSlowOrFloodingHostsGiveAQuietFailure) {
    const std::vector<std::pair<const char*, std::function<void(HttpPeer&)>>> answers = {
        {"not json", [](HttpPeer& p) { p.reply(200, "<html>hello</html>"); }},
        {"errcode text", [](HttpPeer& p) { p.reply(200, R"({"errcode":"0","result":{}})"); }},
        {"result array", [](HttpPeer& p) { p.reply(200, R"({"errcode":0,"result":[1]})"); }},
        {"nested answer", [](HttpPeer& p) { p.reply(200, std::string(1001, '[') + std::string(1001, ']')); }},
        {"nested result",
         [](HttpPeer& p) {
             p.reply(200, R"({"errcode":0,"result":{"configs":)" + std::string(1001, '{') +
                              std::string(1001, '}') + "}}");
         }},
        {"number beyond double", [](HttpPeer& p) { p.reply(200, R"({"errcode":0,"result":{"configs":1e400}})"); }},
        {"not found", [](HttpPeer& p) { p.reply(404, R"({"errcode":0,"result":{}})"); }},
        {"silent", [](HttpPeer& p) { p.pause(10s); }},
        {"flood",
         [](HttpPeer& p) {
             p.send("HTTP/1.1 200 OK\r\n\r\n{\"errcode\":0,\"result\":{\"update_brief\":\"");
             while (p.send(std::string(8192, 'a'))) {
             }
         }},
    };
    for (const auto& [name, answer] : answers) {
        ScriptedHttpServer host([&answer = answer](const HttpRequestHead&, HttpPeer& peer) { answer(peer); });
        Zu_Client::ZuTransferLimits limits = trevane::VersionInfoLimits();
        limits.totalTimeoutMs = 500;
        const tq::ValueMap reply = trevane::FetchVersionInfo(queryFor(host), limits, nullptr).toMap();
        EXPECT_EQ(reply["errcode"].toInt(), trevane::kVersionInfoFailed) << name;
        EXPECT_FALSE(reply["error"].toStdString().empty()) << name;
    }
}

struct CountingPrompter : UpdatePrompter {
    void ShowVersionError() override { ++errors; }
    void ShowUpToDate(const QString&) override { ++upToDate; }
    void ShowCheckFailed() override { ++failed; }
    int OfferUpdate(const QString&, const QString& current, const QString&) override {
        offered = current;
        return 0;
    }
    void StartDownload(const QString&) override {}
    int errors = 0, upToDate = 0, failed = 0;
    QString offered;
};

class Command311 : public testing::Test {
protected:
    void SetUp() override {
        g_cd->appInfo->setVersion("1.1.8");
        g_cd->appInfo->setValue("product_type", tq::Value(18000), 0);
        ASSERT_TRUE(tq::LoadModuleInstance("Trevane", std::make_unique<trevane::VersionInfoModule>(g_cd->appInfo)));
    }
    // Asks the way the application does and feeds the answer to the decision.
    bool askAndDecide(bool manual) {
        bool replied = false;
        const Qt::HANDLE caller = QThread::currentThreadId();
        g_cd->call("Trevane", trevane::kVersionInfoCommand, tq::Value(), [&](const tq::Value& reply) {
            EXPECT_EQ(QThread::currentThreadId(), caller);
            VersionCheck(g_cd->config, &prompter, [] { return int64_t(1700000000); }).HandleReply(reply, manual);
            replied = true;
        });
        return QTest::qWaitFor([&] { return replied; }, 15000);
    }
    zucam::test::TetherEnvironment tether;
    CountingPrompter prompter;
};

TEST_F(Command311, LoopbackHostsOfferReachesTheDecision) {
    ScriptedHttpServer host([](const HttpRequestHead&, HttpPeer& peer) {
        peer.reply(200, R"({"errcode":0,"result":{"current_version":"1.1.10","download_url":"u"}})");
    });
    g_cd->appInfo->setValue("host", tq::Value(host.url("/")), 0);
    ASSERT_TRUE(askAndDecide(false));
    EXPECT_EQ(prompter.offered, "1.1.10");
}

// The answer is read on a pool thread: an exception there would end the
// program. Each ends the check quietly; the program goes on.
TEST_F(Command311, NestedOrWronglyTypedAnswersEndTheCheckQuietly) {
    const std::string nested = std::string(1001, '[') + std::string(1001, ']');
    const std::vector<std::pair<std::string, int CountingPrompter::*>> answers = {
        {nested, &CountingPrompter::failed},
        {R"({"errcode":0,"result":{"current_version":)" + nested + "}}", &CountingPrompter::failed},
        {R"({"errcode":0,"result":{"app_version":{"a":1},"current_version":["1.2.0"],"download_url":{}}})",
         &CountingPrompter::errors},
        {R"({"errcode":0,"result":{"app_version":"1.1.8","current_version":1.2,"update_brief":1e300}})",
         &CountingPrompter::errors},
    };
    for (const auto& [body, counter] : answers) {
        SCOPED_TRACE(body.substr(0, 80));
        ScriptedHttpServer host([&body = body](const HttpRequestHead&, HttpPeer& peer) { peer.reply(200, body); });
        g_cd->appInfo->setValue("host", tq::Value(host.url("/")), 0);
        prompter = CountingPrompter();
        ASSERT_TRUE(askAndDecide(false));
        EXPECT_EQ(prompter.failed + prompter.errors + prompter.upToDate, 0);
        EXPECT_TRUE(prompter.offered.isEmpty());
        ASSERT_TRUE(askAndDecide(true));
        EXPECT_EQ(prompter.*counter, 1);
        EXPECT_TRUE(prompter.offered.isEmpty());
    }
}

TEST_F(Command311, UnreachableDefaultHostIsALoggedQuietFailureAndAManualCheckSaysSo) {
    // Inside the private network namespace no name resolves.
    g_cd->appInfo->setValue("host", tq::Value("https://api.zucam.example/"), 0);
    ASSERT_TRUE(askAndDecide(false));
    EXPECT_EQ(prompter.failed + prompter.errors + prompter.upToDate, 0);
    EXPECT_EQ(zucam::test::CountInLog("version check: no answer from the host"), 1);
    ASSERT_TRUE(askAndDecide(true));
    EXPECT_EQ(prompter.failed, 1);
}

}  // namespace
