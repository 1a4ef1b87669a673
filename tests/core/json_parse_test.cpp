// The program's JSON reader and accessors on hostile text: deep nesting, huge texts and
// value counts, numbers beyond every integer type, odd encodings, and the two modes.
#include "core/json_parse.h"

#include <gtest/gtest.h>

#include "core/service_reply.h"

namespace {

std::string Nested(int depth, const std::string& open, const std::string& inner,
                   const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += inner;
    for (int i = 0; i < depth; ++i) text += close;
    return text;
}

TEST(JsonParse, DeepNestingIsRefusedWithoutThrowing) {
    Json::Value root;
    // The shapes a hostile service sends: each threw from the library's reader.
    EXPECT_FALSE(ParseReply(Nested(5000, "[", "", "]"), &root));
    EXPECT_TRUE(root.isNull());
    EXPECT_FALSE(ParseJson(Nested(3000, "{\"a\":", "1", "}"), &root));
    EXPECT_FALSE(ParseJson(Nested(1001, "[", "", "]"), &root, JsonMode::kStrict));
    // Unclosed, and hidden behind a real member.
    EXPECT_FALSE(ParseJson("{\"code\":0,\"x\":" + std::string(100000, '['), &root));
    // The limit itself is fine; brackets inside strings and comments do not count.
    ASSERT_TRUE(ParseJson(Nested(kJsonMaxDepth, "[", "7", "]"), &root));
    EXPECT_FALSE(ParseJson(Nested(kJsonMaxDepth + 1, "[", "7", "]"), &root));
    ASSERT_TRUE(ParseJson("// [[[[\n{\"s\":\"" + std::string(5000, '[') + "\"} /* {{{{ */", &root));
    EXPECT_EQ(root["s"].asString().size(), 5000u);
}

TEST(JsonParse, SizeAndValueCountAreBounded) {
    Json::Value root;
    std::string big = "\"" + std::string(4u << 20, 'x') + "\"";
    ASSERT_TRUE(ParseJson(big, &root));
    EXPECT_EQ(root.asString().size(), 4u << 20);
    // Past the limit the text is not read at all.
    big.resize(kJsonMaxBytes + 1, ' ');
    EXPECT_FALSE(ParseJson(big, &root));
    big.clear();
    // Many small values cost far more once read than as text.
    std::string many = "[";
    for (size_t i = 0; i < kJsonMaxValues; ++i) many += "0,";
    many += "0]";
    EXPECT_FALSE(ParseJson(many, &root));
    EXPECT_FALSE(ParseJson("", &root));
}

TEST(JsonParse, HugeNumbersAreNoIntegers) {
    Json::Value root;
    ASSERT_TRUE(
        ParseJson(R"({"u64":18446744073709551616,"e19":1e19,"neg":-1e19,"max":9223372036854775807,)"
                  R"("over":9223372036854775808,"whole":5000.0,"half":2.5,"int":42,)"
                  R"("big32":2147483648,"text":"12"})",
                  &root));
    for (const char* name : {"u64", "e19", "neg", "over", "half", "text"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(JsonInt64(root[name], -7), -7);
        EXPECT_EQ(JsonInt(root[name], -7), -7);
    }
    EXPECT_EQ(JsonInt64(root["max"], 0), 9223372036854775807LL);
    EXPECT_EQ(JsonInt64(root["whole"], 0), 5000);
    EXPECT_EQ(JsonInt(root["int"], 0), 42);
    EXPECT_EQ(JsonInt(root["big32"], -1), -1);
    EXPECT_EQ(JsonInt64(root["big32"], -1), 2147483648LL);
    // Beyond a double the text is no JSON this reader takes.
    EXPECT_FALSE(ParseJson(R"({"code":1e400})", &root));
    // A code beyond every integer is a code, never the success 0.
    int code = 0;
    ASSERT_TRUE(ParseReply(R"({"code":18446744073709551616})", &root));
    EXPECT_TRUE(ReplyCode(root, &code));
    EXPECT_EQ(code, -1);
}

TEST(JsonParse, AccessorsTakeAnyValue) {
    Json::Value root;
    ASSERT_TRUE(ParseJson(R"([1,"a",{"b":true,"s":"t"}])", &root));
    // Member look-ups on arrays, strings and numbers throw in the library; not here.
    EXPECT_TRUE(JsonMember(root, "b").isNull());
    EXPECT_TRUE(JsonMember(root[1], "b").isNull());
    EXPECT_TRUE(JsonMember(root[0], "b").isNull());
    EXPECT_TRUE(JsonBool(JsonMember(root[2], "b"), false));
    EXPECT_FALSE(JsonBool(JsonMember(root[2], "s"), false));
    EXPECT_EQ(JsonString(JsonMember(root[2], "s")), "t");
    EXPECT_EQ(JsonString(root[0], "none"), "none");
    EXPECT_EQ(JsonString(root, "none"), "none");
}

TEST(JsonParse, EncodingsNeverThrow) {
    Json::Value root;
    // A byte-order mark, raw code-page bytes, lone surrogates and NUL escapes.
    ASSERT_TRUE(ParseJson("\xEF\xBB\xBF{\"a\":\"\xD6\xD0\xCE\xC4\"}", &root));
    EXPECT_EQ(root["a"].asString(), "\xD6\xD0\xCE\xC4");
    ASSERT_TRUE(ParseJson(R"({"a":"\udc00x","b":"\u0000"})", &root));
    EXPECT_EQ(root["b"].asString(), std::string(1, '\0'));
    EXPECT_FALSE(ParseJson(R"({"a":"\ud800"})", &root));
    EXPECT_FALSE(ParseJson(std::string("{\0\"\0a\0\"\0:\0001\0}\0", 14), &root));
    EXPECT_FALSE(ParseJson("{\"a\":\"\xFF\xFE", &root));
}

TEST(JsonParse, DefaultAndStrictModes) {
    Json::Value root;
    const std::string commented = "// list\n{\"a\":[1,2,],}";
    EXPECT_TRUE(ParseJson(commented, &root));
    EXPECT_FALSE(ParseJson(commented, &root, JsonMode::kStrict));
    // Nothing but comments may follow the value.
    EXPECT_TRUE(ParseJson("{\"code\":0} // end", &root));
    EXPECT_FALSE(ParseJson("{\"code\":0} {\"code\":1}", &root));
    EXPECT_FALSE(ParseJson("{\"a\":1,\"a\":2}", &root, JsonMode::kStrict));
    EXPECT_FALSE(ParseJson("\"text\"", &root, JsonMode::kStrict));
    ASSERT_TRUE(ParseJson("{\"dirName\":\"x.0\"}", &root, JsonMode::kStrict));
    EXPECT_EQ(root["dirName"].asString(), "x.0");
}

}  // namespace
