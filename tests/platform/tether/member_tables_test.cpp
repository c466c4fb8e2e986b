// UiValues and AppInfo: tables shared between threads.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "running_tether.h"
#include "support/tether_environment.h"

namespace {

class TqMemberTables : public testing::Test {
protected:
    tq::Interface& tether() { return *zucam::test::runningTether(); }

    zucam::test::TetherEnvironment tether_;
};

// The values writer w may store; a map among them, so that copies share
// nested storage across threads.
std::vector<tq::Value> valuesOfWriter(int writer) {
    tq::ValueMap map;
    map["writer"] = tq::Value(writer);
    map["text"] = tq::Value(std::string(static_cast<size_t>(40 + writer), 'm'));
    return {tq::Value(writer), tq::Value("text of writer " + std::to_string(writer)), tq::Value(map),
            tq::Value(writer * 0.5)};
}

TEST_F(TqMemberTables, UiValuesStayWholeUnderConcurrentSetAndGet) {
    constexpr int kWriters = 4;
    constexpr int kReaders = 4;
    constexpr int kKeys = 8;
    constexpr int kRounds = 3000;
    const tq::Value unset("unset");
    EXPECT_EQ(tether().uiValues->get("key0", unset), unset);

    std::vector<tq::Value> allowed = {unset};
    for (int writer = 0; writer < kWriters; ++writer) {
        for (const tq::Value& value : valuesOfWriter(writer)) allowed.push_back(value);
    }
    std::atomic<int> unexpected{0};
    std::vector<std::thread> threads;
    for (int writer = 0; writer < kWriters; ++writer) {
        threads.emplace_back([this, writer] {
            const std::vector<tq::Value> values = valuesOfWriter(writer);
            for (int round = 0; round < kRounds; ++round) {
                const std::string key = "key" + std::to_string((round + writer) % kKeys);
                tether().uiValues->set(key.c_str(), values[static_cast<size_t>(round) % values.size()]);
            }
        });
    }
    for (int reader = 0; reader < kReaders; ++reader) {
        threads.emplace_back([this, reader, &allowed, &unset, &unexpected] {
            for (int round = 0; round < kRounds; ++round) {
                const std::string key = "key" + std::to_string((round + reader) % kKeys);
                const tq::Value value = tether().uiValues->get(key.c_str(), unset);
                bool known = false;
                for (const tq::Value& candidate : allowed) known = known || candidate == value;
                if (!known) ++unexpected;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(unexpected.load(), 0);
}

TEST_F(TqMemberTables, AppInfoKeepsWhatWasSet) {
    tq::AppInfo& info = *tether().appInfo;
    EXPECT_STREQ(info.version(), "");
    info.setAppName("ZuCam");
    info.setVersion("1.1.8");
    info.setBuildDate("2024-05-01");
    info.setWebsite("https://zucam.invalid");
    info.setValue("ports", tq::Value(4747), 0);
    EXPECT_STREQ(info.appName(), "ZuCam");
    EXPECT_STREQ(info.version(), "1.1.8");
    EXPECT_STREQ(info.buildDate(), "2024-05-01");
    EXPECT_STREQ(info.website(), "https://zucam.invalid");
    EXPECT_EQ(info.value("ports").toInt(), 4747);
    EXPECT_TRUE(info.value("never set").isNull());
    info.setVersion(nullptr);
    EXPECT_STREQ(info.version(), "");
}

}  // namespace
