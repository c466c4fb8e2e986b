#include "parser/command_json.h"

#include <gtest/gtest.h>
#include <json/writer.h>
#include <optional>
#include <string>

#include "packet_bytes.h"

namespace {

struct EnvelopeCase {
    const char* name;
    std::string text;
    bool ok;
    int type;
    std::string data;  // "data" written compactly; "null" when absent
};

std::string Compact(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

void PrintTo(const EnvelopeCase& envelope, std::ostream* os) { *os << envelope.name; }

class CommandEnvelopeRead : public ::testing::TestWithParam<EnvelopeCase> {};

TEST_P(CommandEnvelopeRead, Case) {
    const EnvelopeCase& c = GetParam();
    CommandEnvelope envelope;
    ASSERT_EQ(ReadCommandEnvelope(c.text, &envelope), c.ok);
    if (!c.ok) return;
    EXPECT_EQ(envelope.type, c.type);
    EXPECT_EQ(Compact(envelope.data), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandEnvelopeRead,
    ::testing::Values(
        EnvelopeCase{"Hello", R"({"version":"1.0","type":0,"data":{"videoPort":5}})", true, 0, R"({"videoPort":5})"},
        EnvelopeCase{"DataNull", R"({"type":7,"data":null})", true, 7, "null"},
        EnvelopeCase{"DataAbsent", R"({"type":1001,"name":"x"})", true, 1001, "null"},
        EnvelopeCase{"DataNotAnObject", R"({"type":5,"data":[1,2]})", true, 5, "[1,2]"},
        EnvelopeCase{"NegativeType", R"({"type":-3})", true, -3, "null"},
        EnvelopeCase{"CommentsAreAccepted", "// from the phone\n{\"type\":2 /* bye */}", true, 2, "null"},
        EnvelopeCase{"NotJson", "{\"type\":", false, 0, ""},
        EnvelopeCase{"Empty", "", false, 0, ""},
        EnvelopeCase{"Array", "[0]", false, 0, ""},
        EnvelopeCase{"Number", "0", false, 0, ""},
        EnvelopeCase{"TypeMissing", R"({"data":{}})", false, 0, ""},
        EnvelopeCase{"TypeString", R"({"type":"0"})", false, 0, ""},
        EnvelopeCase{"TypeFraction", R"({"type":1.5})", false, 0, ""},
        EnvelopeCase{"TypeBeyondInt", R"({"type":4294967296})", false, 0, ""},
        EnvelopeCase{"TypeBool", R"({"type":true})", false, 0, ""}),
    parser_test::CaseName());

TEST(CommandEnvelopeRead, TopLevelMembersStayReachable) {
    CommandEnvelope envelope;
    ASSERT_TRUE(ReadCommandEnvelope(R"({"type":1001,"name":"Desk"})", &envelope));
    EXPECT_EQ(envelope.root["name"].asString(), "Desk");
}

TEST(CommandMemberRead, MissingMembersGiveTheDefaultWrongKindsNothing) {
    CommandEnvelope envelope;
    ASSERT_TRUE(ReadCommandEnvelope(
        R"({"type":0,"data":{"port":1234,"key":"abc","on":true,"obj":{},"list":[1],"text":"12","big":1e20,)"
        R"("null":null,"fraction":29.97}})",
        &envelope));
    const Json::Value& data = envelope.data;
    EXPECT_EQ(ReadIntMember(data, "port", -1), 1234);
    EXPECT_EQ(ReadIntMember(data, "missing", -1), -1);
    EXPECT_EQ(ReadIntMember(data, "null", -1), 0);
    EXPECT_EQ(ReadIntMember(data, "fraction", -1), 29);
    for (const char* wrong : {"obj", "list", "text", "big", "key"}) {
        EXPECT_EQ(ReadIntMember(data, wrong, -1), std::nullopt) << wrong;
    }
    EXPECT_EQ(ReadStringMember(data, "key", "none"), "abc");
    EXPECT_EQ(ReadStringMember(data, "port", "none"), "1234");
    EXPECT_EQ(ReadStringMember(data, "missing", "none"), "none");
    EXPECT_EQ(ReadStringMember(data, "obj", "none"), std::nullopt);
    EXPECT_EQ(ReadStringMember(data, "list", "none"), std::nullopt);
    EXPECT_EQ(ReadBoolMember(data, "on", false), true);
    EXPECT_EQ(ReadBoolMember(data, "obj", false), std::nullopt);
    EXPECT_EQ(ReadBoolMember(data, "key", false), std::nullopt);

    // A null data is a data without members; any other kind is wrong.
    EXPECT_EQ(ReadIntMember(Json::Value(), "port", 7), 7);
    EXPECT_EQ(ReadIntMember(Json::Value(Json::arrayValue), "port", 7), std::nullopt);
    EXPECT_EQ(ReadStringMember(Json::Value("text"), "key", "none"), std::nullopt);
}

TEST(CommandEnvelopeRead, DeepNestingAndHugeNumbersAreNotJson) {
    for (const size_t depth : {size_t(65), size_t(1001), size_t(100000)}) {
        const std::string nested = std::string(depth, '[') + std::string(depth, ']');
        CommandEnvelope envelope;
        EXPECT_FALSE(ReadCommandEnvelope(nested, &envelope)) << depth;
        EXPECT_FALSE(ReadCommandEnvelope(R"({"type":0,"data":)" + nested + "}", &envelope)) << depth;
    }
    CommandEnvelope envelope;
    // A number beyond double's range is no JSON to jsoncpp.
    EXPECT_FALSE(ReadCommandEnvelope(R"({"type":0,"data":{"fps":1e400}})", &envelope));
    const std::string shallow = std::string(30, '[') + std::string(30, ']');
    ASSERT_TRUE(ReadCommandEnvelope(R"({"type":0,"data":{"name":)" + shallow + "}}", &envelope));
    EXPECT_EQ(ReadStringMember(envelope.data, "name", ""), std::nullopt);
}

}  // namespace
