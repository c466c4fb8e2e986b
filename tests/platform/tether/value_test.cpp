// tq::Value's text form: every kind reads back as written, and hostile texts
// are refused without reading past their end.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "tether/value.h"

namespace {

constexpr uint16_t kProbeType = tq::Value::kFirstUserType + 7;

// A registered kind whose text form is "[probe]<bytes>".
std::string writeProbe(const tq::Value& value) { return std::string("[probe]") + value.bytes(); }

tq::Value readProbe(const char* /*tag*/, const char* body) {
    tq::Value value;
    value.fast_set(kProbeType, body, strlen(body));
    return value;
}

tq::Value probe(const std::string& bytes) {
    tq::Value value;
    value.fast_set(kProbeType, bytes.data(), bytes.size());
    return value;
}

class TqValueText : public testing::Test {
protected:
    void SetUp() override { tq::regist_value_type(kProbeType, "probe", writeProbe, readProbe); }

    static void expectRoundTrip(const tq::Value& original) {
        const std::string text = original.write();
        tq::Value parsed;
        ASSERT_TRUE(parsed.read(text.c_str())) << text;
        EXPECT_EQ(parsed.type(), original.type()) << text;
        EXPECT_TRUE(parsed == original) << text << " read back as " << parsed.write();
    }

    // The text in a heap block of exactly its size, so that a read past the
    // terminating NUL is caught by AddressSanitizer.
    static bool readExactBlock(const std::string& text, tq::Value* value) {
        const std::unique_ptr<char[]> block(new char[text.size() + 1]);
        memcpy(block.get(), text.c_str(), text.size() + 1);
        return value->read(block.get());
    }
};

TEST_F(TqValueText, EveryScalarKindReadsBackAsWritten) {
    const std::vector<tq::Value> values = {
        tq::Value(),
        tq::Value(true),
        tq::Value(false),
        tq::Value(0),
        tq::Value(std::numeric_limits<int>::min()),
        tq::Value(std::numeric_limits<int>::max()),
        tq::Value(std::numeric_limits<int64_t>::min()),
        tq::Value(std::numeric_limits<int64_t>::max()),
        tq::Value(0.1),
        tq::Value(1.0 / 3.0),
        tq::Value(-1e300),
        tq::Value(std::numeric_limits<double>::denorm_min()),
        tq::Value(""),
        tq::Value("  blanks\tinside and around  "),
        tq::Value("[text:3]looks like a tag]"),
        tq::Value("中文 😀 Ünïcödé"),
        tq::Value(std::string(5000, 'z')),
        probe("user bytes with ] and [ inside"),
    };
    for (const tq::Value& value : values) expectRoundTrip(value);
}

TEST_F(TqValueText, NestedMapWithEveryKindReadsBackAsWritten) {
    tq::ValueMap inner;
    inner["flag"] = tq::Value(true);
    inner["count"] = tq::Value(-7);
    inner["big"] = tq::Value(int64_t{1} << 40);
    inner["ratio"] = tq::Value(2.5);
    inner["text"] = tq::Value("a b ] [ 中");
    inner["user"] = probe("inner user");
    inner["none"] = tq::Value();
    tq::ValueMap outer;
    outer["inner"] = tq::Value(inner);
    outer[""] = tq::Value("empty key");
    outer["key with blanks"] = probe("outer user");
    outer["after"] = tq::Value(3);
    expectRoundTrip(tq::Value(outer));

    tq::Value parsed;
    ASSERT_TRUE(parsed.read(tq::Value(outer).write().c_str()));
    EXPECT_EQ(parsed.toMap()["inner"].toMap()["user"].type(), kProbeType);
    EXPECT_EQ(parsed.toMap()["inner"].toMap()["text"].toStdString(), "a b ] [ 中");
}

TEST_F(TqValueText, HostileTextsAreRefusedAndLeaveTheValueEmpty) {
    std::string nestedTooDeep;
    for (int level = 0; level < 40; ++level) nestedTooDeep += "[map:1][key:1]k";
    nestedTooDeep += "<null>";
    std::string nestedFarTooDeep;
    for (int level = 0; level < 100000; ++level) nestedFarTooDeep += "[map:1][key:0]";

    const std::vector<std::string> hostile = {
        "",
        "[text:999]ab",
        "[text:-1]",
        "[text:18446744073709551616]",
        "[text:1a]x",
        "[map:3][key:1]a",
        "[map:1][key:5]ab",
        "[map:1][key:1]a[user:50]x",
        "[map:2][key:1]a[int]1",
        "[int]12x",
        "[int]99999999999",
        "[bool]2",
        "[double]",
        "[text:3",
        "[",
        "[map:1",
        "[map:1][key:1",
        "[" + std::string(64, 'a') + "]",
        "[" + std::string(200, 't') + "]body",
        "[unknownkind]body",
        nestedTooDeep,
        nestedFarTooDeep,
    };
    for (const std::string& text : hostile) {
        tq::Value value(42);
        EXPECT_FALSE(readExactBlock(text, &value)) << text.substr(0, 80);
        EXPECT_TRUE(value.isNull()) << text.substr(0, 80);
    }

    tq::Value value(42);
    EXPECT_FALSE(value.read(nullptr));
    EXPECT_TRUE(value.isNull());
}

TEST_F(TqValueText, MapsNestedUpToTheLimitStillRead) {
    tq::Value nested(7);
    for (int level = 0; level < 32; ++level) {
        tq::ValueMap map;
        map["k"] = nested;
        nested = tq::Value(map);
    }
    expectRoundTrip(nested);
}

}  // namespace

namespace {

TEST(TqValueStorage, FastSetFromItsOwnBytesKeepsThem) {
    tq::Value value;
    value.fast_set(kProbeType, "hello", 5);
    value.fast_set(kProbeType + 1, value.bytes() + 1, value.byteSize() - 1);
    EXPECT_EQ(value.type(), kProbeType + 1);
    EXPECT_EQ(std::string(value.bytes(), value.byteSize()), "ello");
}

}  // namespace
