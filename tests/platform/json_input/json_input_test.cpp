// Reading outside JSON: nesting is bounded and never throws, an object's
// members are cut apart by its real structure (brackets and commas inside
// texts are text), and a damaged value costs only its own member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_input/json_input.h"

namespace {

std::string nested(int depth) { return std::string(size_t(depth), '[') + std::string(size_t(depth), ']'); }

TEST(JsonInputParse, NestingPastTheBoundIsAParseErrorNeverAThrow) {
    for (const json_input::Grammar grammar : {json_input::Grammar::Strict, json_input::Grammar::Lenient}) {
        Json::Value root;
        EXPECT_TRUE(json_input::Parse(nested(json_input::kMaxDepth - 1), &root, nullptr, grammar));
        for (const int depth : {json_input::kMaxDepth + 2, 1001, 100000}) {
            std::string error;
            EXPECT_FALSE(json_input::Parse(nested(depth), &root, &error, grammar)) << depth;
            EXPECT_FALSE(error.empty());
            EXPECT_EQ(error.find('\n'), std::string::npos);
            EXPECT_TRUE(root.isNull());
        }
        EXPECT_FALSE(json_input::Parse(std::string(100000, '{'), &root, nullptr, grammar));
    }
}

TEST(JsonInputParse, StrictRefusesWhatLenientTakes) {
    Json::Value root;
    for (const char* text : {"{\"a\":1} // note", "[1,]", "{\"a\":1,\"a\":2}", "{\"a\":1} x"}) {
        EXPECT_FALSE(json_input::Parse(text, &root, nullptr, json_input::Grammar::Strict)) << text;
    }
    EXPECT_TRUE(json_input::Parse("{\"a\":1} // note", &root));
    EXPECT_TRUE(json_input::Parse("\"a text\"", &root, nullptr, json_input::Grammar::Strict));
}

TEST(JsonInputConvert, KindsJsoncppWouldThrowOnGiveNothing) {
    Json::Value root;
    ASSERT_TRUE(json_input::Parse(
        R"({"int":7,"real":2.5,"big":1e20,"text":"x","on":true,"null":null,"obj":{},"list":[1]})", &root));
    const auto member = [&](const char* name) { return *json_input::FindMember(root, name); };
    EXPECT_EQ(json_input::ToInt(member("int")), 7);
    EXPECT_EQ(json_input::ToInt(member("real")), 2);
    EXPECT_EQ(json_input::ToInt(member("null")), 0);
    EXPECT_EQ(json_input::ToString(member("int")), "7");
    EXPECT_EQ(json_input::ToBool(member("on")), true);
    for (const char* name : {"big", "text", "obj", "list"}) EXPECT_EQ(json_input::ToInt(member(name)), std::nullopt) << name;
    for (const char* name : {"obj", "list"}) EXPECT_EQ(json_input::ToString(member(name)), std::nullopt) << name;
    for (const char* name : {"text", "obj", "list"}) EXPECT_EQ(json_input::ToBool(member(name)), std::nullopt) << name;
    EXPECT_EQ(json_input::FindMember(root, "missing"), nullptr);
    EXPECT_EQ(json_input::FindMember(member("list"), "int"), nullptr);
    EXPECT_EQ(json_input::FindMember(Json::Value(5), "int"), nullptr);
}

struct MembersCase {
    std::string text;
    bool object;                    // the object's structure holds
    std::vector<std::string> names; // in the text's order
    std::vector<bool> readable;
};

TEST(JsonInputObjectMembers, EachValueIsReadOnItsOwn) {
    const std::vector<MembersCase> cases = {
        {"{}", true, {}, {}},
        {" \n{ \"a\" : \"1\" ,\"b\":\"2\" }\n", true, {"a", "b"}, {true, true}},
        // Brackets, commas and escaped quotes inside texts are text.
        {R"({"k\"ey":"},{[","b":{"x":"]"},"c":["}",{"d":1}]})", true, {"k\"ey", "b", "c"}, {true, true, true}},
        {R"({"a":1e400,"b":"kept"})", true, {"a", "b"}, {false, true}},
        {R"({"a":,"b":"kept"})", true, {"a", "b"}, {false, true}},
        {R"({"a":tru,"b":"kept"})", true, {"a", "b"}, {false, true}},
        {"{\"a\":" + nested(100000) + ",\"b\":\"kept\"}", true, {"a", "b"}, {false, true}},
        {R"({"a":"1","a":"2"})", true, {"a", "a"}, {true, true}},
        {"", false, {}, {}},
        {"[\"a\"]", false, {}, {}},
        {R"({"a":"1")", false, {}, {}},
        {R"({"a":"1"} x)", false, {}, {}},
        {R"({"a":[1}})", false, {}, {}},
        {R"({"a":"1",})", false, {}, {}},
        {R"({a:"1"})", false, {}, {}},
        {R"({"a" "1"})", false, {}, {}},
        {R"({"a":"1)", false, {}, {}},
        {std::string(100000, '{'), false, {}, {}},
    };
    for (const MembersCase& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        std::vector<json_input::ObjectMember> members;
        std::string error;
        ASSERT_EQ(json_input::ParseObjectMembers(c.text, &members, &error), c.object) << error;
        EXPECT_EQ(error.empty(), c.object);
        ASSERT_EQ(members.size(), c.names.size());
        for (size_t i = 0; i < members.size(); ++i) {
            EXPECT_EQ(members[i].name, c.names[i]);
            EXPECT_EQ(members[i].readable, c.readable[i]) << c.names[i];
        }
    }
    std::vector<json_input::ObjectMember> members;
    ASSERT_TRUE(json_input::ParseObjectMembers(R"({"t":"v","n":{"x":[1,2]}})", &members));
    EXPECT_EQ(members[0].value.asString(), "v");
    EXPECT_EQ(members[1].value["x"][1].asInt(), 2);
}

}  // namespace
