#include <gtest/gtest.h>

#include <json/writer.h>

#include "core/tether/tq.h"
#include "core/tether/tq_config.h"
#include "support/tether_environment.h"
#include "version_check.h"

namespace {

struct ParseCase {
    const char* text;
    bool parses;
    uint64_t number;
};

TEST(ParseVersion, NumbersOpenTheTextAndFitTheirFields) {
    const ParseCase cases[] = {
        {"1.1.8", true, (1ULL << 32) + (1 << 16) + 8},
        {"1.1.10", true, (1ULL << 32) + (1 << 16) + 10},
        {"1.1.8-rc", true, (1ULL << 32) + (1 << 16) + 8},
        {"2.0.0.5 beta", true, 2ULL << 32},
        {"4294967295.65535.65535", true, 0xffffffffffffffffULL},
        {"v1.2.0", false, 0},
        {" 1.2.0", false, 0},
        {"1.2", false, 0},
        {"", false, 0},
        {"1.65536.0", false, 0},                   // would run into the major field
        {"1.0.65536", false, 0},
        {"4294967296.0.0", false, 0},              // past 32 bits
        {"99999999999999999999999.0.0", false, 0}, // past 64 bits
    };
    for (const ParseCase& c : cases) {
        uint64_t number = 12345;
        EXPECT_EQ(ParseVersion(c.text, &number), c.parses) << c.text;
        if (c.parses) {
            EXPECT_EQ(number, c.number) << c.text;
        }
    }
}

struct RecordingPrompter : UpdatePrompter {
    void ShowVersionError() override { shown.push_back("version error"); }
    void ShowUpToDate(const QString& appVersion) override { shown.push_back("up to date " + appVersion.toStdString()); }
    void ShowCheckFailed() override { shown.push_back("check failed"); }
    int OfferUpdate(const QString& app, const QString& current, const QString& brief) override {
        shown.push_back("offer " + app.toStdString() + " -> " + current.toStdString() + " " + brief.toStdString());
        return answer;
    }
    void StartDownload(const QString& url) override { shown.push_back("download " + url.toStdString()); }
    std::vector<std::string> shown;
    int answer = 0;
};

tq::Value replyWith(const std::string& result, int errcode = 0) {
    tq::ValueMap map;
    map["errcode"] = tq::Value(errcode);
    map["result"] = tq::Value(result);
    return tq::Value(map);
}

tq::Value offerOf(const char* app, const char* current) {
    Json::Value result;
    result["app_version"] = app;
    result["current_version"] = current;
    result["download_url"] = "http://127.0.0.1/setup";
    result["update_brief"] = "notes";
    result["configs"] = "{}";
    return replyWith(Json::FastWriter().write(result));
}

class VersionCheckTest : public testing::Test {
protected:
    std::string stored(const char* key) { return g_cd->config->getString(key, nullptr); }
    void check(const tq::Value& reply, bool manual) {
        prompter.shown.clear();
        VersionCheck(g_cd->config, &prompter, [this] { return now; }).HandleReply(reply, manual);
    }
    zucam::test::TetherEnvironment tether;
    RecordingPrompter prompter;
    int64_t now = 1700000000;
};

TEST_F(VersionCheckTest, NewerPatchIsOfferedAndUpdateStartsTheDownload) {
    prompter.answer = 1;
    check(offerOf("1.1.8", "1.1.10"), false);
    EXPECT_EQ(prompter.shown,
              (std::vector<std::string>{"offer 1.1.8 -> 1.1.10 notes", "download http://127.0.0.1/setup"}));
}

TEST_F(VersionCheckTest, ManualAnswersEveryOutcomeAutomaticStaysQuiet) {
    struct Case {
        tq::Value reply;
        std::vector<std::string> manual;
    };
    const Case cases[] = {
        {offerOf("1.1.8", "1.1.8-rc"), {"up to date 1.1.8"}},
        {offerOf("1.1.8", "1.1.7"), {"up to date 1.1.8"}},
        {offerOf("1.1.8", "v1.2.0"), {"version error"}},
        {offerOf("1.1.8", "1.99999.0"), {"version error"}},
        {replyWith("not json"), {"version error"}},
        {replyWith("[1,2,3]"), {"version error"}},
        {replyWith("\"1.2.0\""), {"version error"}},
        // Nested past the parser's stack limit: jsoncpp throws on it.
        {replyWith(std::string(1001, '[') + std::string(1001, ']')), {"version error"}},
        {replyWith(R"({"app_version":"1.1.8","current_version":"1.2.0","configs":)" + std::string(1001, '[') +
                   std::string(1001, ']') + "}"),
         {"version error"}},
        {replyWith("", -1), {"check failed"}},
        {tq::Value(), {"check failed"}},
    };
    for (const Case& c : cases) {
        check(c.reply, true);
        EXPECT_EQ(prompter.shown, c.manual) << c.reply.write();
        check(c.reply, false);
        EXPECT_TRUE(prompter.shown.empty()) << c.reply.write();
    }
}

TEST_F(VersionCheckTest, MembersOfOtherKindsDoNotEndTheOffer) {
    // An object under "configs" and numbers where texts belong.
    check(replyWith(R"({"configs":{"a":1},"app_version":"1.1.8","current_version":"1.2.0",)"
                    R"("download_url":7,"update_brief":["x"]})"),
          false);
    EXPECT_EQ(prompter.shown, (std::vector<std::string>{"offer 1.1.8 -> 1.2.0 "}));
}

TEST_F(VersionCheckTest, LaterHoldsAutomaticOffersBackForThreeDays) {
    prompter.answer = 0;
    check(offerOf("1.1.8", "1.2.0"), false);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(stored("last_show_new_version_time_sec"), std::to_string(now));
    const int64_t postponed = now;
    for (const int64_t later : {int64_t(1), VersionCheck::kHoldBackSeconds - 1}) {
        now = postponed + later;
        check(offerOf("1.1.8", "1.2.0"), false);
        EXPECT_TRUE(prompter.shown.empty()) << later;
    }
    // A clock set back before the stored time holds it back too.
    now = postponed - VersionCheck::kHoldBackSeconds * 10;
    check(offerOf("1.1.8", "1.2.0"), false);
    EXPECT_TRUE(prompter.shown.empty());
    now = postponed + VersionCheck::kHoldBackSeconds;
    prompter.answer = 3;  // neither update, skip nor later
    check(offerOf("1.1.8", "1.2.0"), false);
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(stored("last_show_new_version_time_sec"), std::to_string(postponed));
}

TEST_F(VersionCheckTest, PostponedTimeSurvivesPast2038) {
    now = int64_t(1) << 32;
    check(offerOf("1.1.8", "1.2.0"), false);
    now += 10;
    check(offerOf("1.1.8", "1.2.0"), false);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(VersionCheckTest, SkippedVersionsAreStoredInOrderAndOnlyManualChecksOfferThem) {
    check(offerOf("1.1.8", "1.2.0"), true);  // manual "later" stores no time
    EXPECT_EQ(stored("ignore_versions"), "");
    EXPECT_EQ(stored("last_show_new_version_time_sec"), "");
    prompter.answer = 2;
    check(offerOf("1.1.8", "1.2.0"), false);
    EXPECT_EQ(stored("ignore_versions"), "1.2.0");
    check(offerOf("1.1.8", "1.3.0"), false);
    EXPECT_EQ(stored("ignore_versions"), "1.2.0|1.3.0");
    check(offerOf("1.1.8", "1.3.0"), false);
    EXPECT_TRUE(prompter.shown.empty());
    prompter.answer = 0;
    check(offerOf("1.1.8", "1.3.0"), true);
    EXPECT_EQ(prompter.shown.size(), 1u);
    EXPECT_NE(stored("last_show_new_version_time_sec"), std::to_string(now));
    // The ignore list holds exact texts: another spelling is offered.
    check(offerOf("1.1.8", "1.3.0-rc"), false);
    EXPECT_EQ(prompter.shown.size(), 1u);
}

}  // namespace
