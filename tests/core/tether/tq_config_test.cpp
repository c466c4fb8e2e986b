#include <gtest/gtest.h>

#include "core/tether/tq.h"
#include "core/tether/tq_config.h"
#include "support/tether_environment.h"

namespace {

class TypedConfig : public testing::Test {
protected:
    std::string stored(const char* key, bool* found = nullptr) {
        bool present = false;
        std::string text = g_cd->config->getString(key, &present);
        if (found != nullptr) *found = present;
        return text;
    }

    zucam::test::TetherEnvironment tether_;
};

TEST_F(TypedConfig, MissingKeyGivesDefaultAndWritesItBackOnlyWhenAsked) {
    tq::ConfigStore* config = g_cd->config;
    EXPECT_EQ(tq::GetConfig<int>(config, "camera_mode", 1, true), 1);
    EXPECT_EQ(stored("camera_mode"), "1");

    EXPECT_EQ(tq::GetConfig<bool>(config, "flag", true, false), true);
    bool found = true;
    stored("flag", &found);
    EXPECT_FALSE(found);

    EXPECT_EQ(tq::GetConfig(config, "name", std::string(" two  blanks ")), " two  blanks ");
    EXPECT_EQ(stored("name"), " two  blanks ");
}

TEST_F(TypedConfig, StoredTextsAreParsedAsTheirType) {
    tq::ConfigStore* config = g_cd->config;
    config->setString("i", " 42");
    config->setString("neg", "-7");
    config->setString("big", "1754000000123");
    config->setString("t", "1");
    config->setString("f", "0");
    config->setString("s", "");
    EXPECT_EQ(tq::GetConfig<int>(config, "i", 0, true), 42);
    EXPECT_EQ(tq::GetConfig<int>(config, "neg", 0, true), -7);
    EXPECT_EQ(tq::GetConfig<int64_t>(config, "big", 0, true), 1754000000123);
    EXPECT_TRUE(tq::GetConfig<bool>(config, "t", false, true));
    EXPECT_FALSE(tq::GetConfig<bool>(config, "f", true, true));
    // A stored empty text is a value, not a missing key.
    EXPECT_EQ(tq::GetConfig<std::string>(config, "s", "default", true), "");
}

TEST_F(TypedConfig, UnparsableTextGivesTheDefaultAndStaysStored) {
    tq::ConfigStore* config = g_cd->config;
    const char* const texts[] = {"abc", "12abc", "4.5", "", "99999999999", "2"};
    for (const char* text : texts) {
        config->setString("k", text);
        const std::string t = text;
        EXPECT_EQ(tq::GetConfig<bool>(config, "k", true, true), true) << text;
        if (t != "2") {
            EXPECT_EQ(tq::GetConfig<int>(config, "k", 5, true), 5) << text;
        }
        EXPECT_EQ(stored("k"), text);
    }
}

TEST_F(TypedConfig, SettersWriteDecimalAndZeroOne) {
    tq::ConfigStore* config = g_cd->config;
    tq::SetConfig<int>(config, "i", -12);
    tq::SetConfig<int64_t>(config, "time", int64_t{4102444800});
    tq::SetConfig<bool>(config, "b", true);
    tq::SetConfig<std::string>(config, "s", "摄像头 A");
    tq::SetConfigText(config, "null", nullptr);
    EXPECT_EQ(stored("i"), "-12");
    EXPECT_EQ(stored("time"), "4102444800");
    EXPECT_EQ(tq::GetConfig<int64_t>(config, "time", 0, true), 4102444800);
    EXPECT_EQ(stored("b"), "1");
    EXPECT_EQ(stored("s"), "摄像头 A");
    bool found = false;
    EXPECT_EQ(stored("null", &found), "");
    EXPECT_TRUE(found);
}

TEST_F(TypedConfig, UiValueIsACopy) {
    tq::Value value(7);
    tq::SetUiValue(g_cd->uiValues, "color_value", value);
    value = tq::Value(8);
    EXPECT_EQ(g_cd->uiValues->get("color_value", tq::Value()).toInt(), 7);
}

}  // namespace
