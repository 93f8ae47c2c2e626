#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "ToolTestSupport.h"
#include "tools/Json.h"

using tooltest::ParseJson;

// Every kind of value goes through the writer and comes back from a strict
// parser unchanged; text that is not UTF-8 comes back as its Latin-1 reading.
TEST(JsonWriter, RoundTripsThroughStrictParser) {
    const std::string tricky = std::string("q\"b\\s/\n\r\t\b\f\x01\x1f\x7f ") + '\0' + "end";
    const std::string latin1 = "caf\xE9 \xFF";            // not UTF-8
    const std::string utf8 = "caf\xC3\xA9 \xE2\x82\xAC";  // already UTF-8
    const std::string overlong = "\xC0\xAF\xED\xA0\x80";  // overlong '/', a surrogate
    for (int indent : {0, 2}) {
        JsonWriter w(indent);
        w.BeginObject()
            .Member("tricky", tricky)
            .Member("latin1", latin1)
            .Member("utf8", utf8)
            .Member("overlong", overlong)
            .Member("int", int64_t{-9007199254740991})
            .Member("uint", uint64_t{4294967295u})
            .Member("pi", 3.141592653589793)
            .Member("tiny", 5e-324)
            .Member("nan", std::nan(""))
            .Member("inf", std::numeric_limits<double>::infinity())
            .Member("yes", true);
        w.Key("empty_array").BeginArray().EndArray();
        w.Key("empty_object").BeginObject().EndObject();
        w.Key("list").BeginArray().Int(1).String("two").Null().BeginArray().EndArray().EndArray();
        w.EndObject();
        ASSERT_TRUE(w.Complete());

        const tooltest::Json j = ParseJson(w.str());
        EXPECT_EQ(j["tricky"].s, tricky);
        EXPECT_EQ(j["latin1"].s, "caf\xC3\xA9 \xC3\xBF");
        EXPECT_EQ(j["utf8"].s, utf8);
        EXPECT_EQ(j["overlong"].s, "\xC3\x80\xC2\xAF\xC3\xAD\xC2\xA0\xC2\x80");
        EXPECT_EQ(j["int"].n, -9007199254740991.0);
        EXPECT_EQ(j["uint"].n, 4294967295.0);
        EXPECT_EQ(j["pi"].n, 3.141592653589793);  // shortest form reads back exactly
        EXPECT_EQ(j["tiny"].n, 5e-324);
        EXPECT_EQ(j["nan"].kind, tooltest::Json::Null);
        EXPECT_EQ(j["inf"].kind, tooltest::Json::Null);
        EXPECT_TRUE(j["yes"].b);
        EXPECT_EQ(j["empty_array"].kind, tooltest::Json::Array);
        EXPECT_TRUE(j["empty_array"].items.empty());
        EXPECT_TRUE(j["empty_object"].members.empty());
        ASSERT_EQ(j["list"].items.size(), 4u);
        EXPECT_EQ(j["list"][1].s, "two");
        EXPECT_EQ(indent == 0, w.str().find('\n') == std::string::npos);
    }
}

// Misuse is refused rather than written as broken JSON; the parser used by the
// tool tests refuses broken JSON.
TEST(JsonWriter, RefusesMisuseAndParserRefusesBrokenText) {
    JsonWriter a;
    a.BeginObject();
    EXPECT_THROW(a.Int(1), std::logic_error);  // a value without a key
    EXPECT_THROW(a.EndArray(), std::logic_error);
    a.Key("k");
    EXPECT_THROW(a.Key("again"), std::logic_error);
    JsonWriter b;
    b.Int(1);
    EXPECT_THROW(b.Int(2), std::logic_error);  // two top-level values

    for (const char* bad : {"{\"a\":1,}", "[1 2]", "\"a\x01\"", "\"\xE9\"", "{\"a\":1,\"a\":2}",
                            "01", "1.", "nul", "[1]x", "\"\\x\"", ""})
        EXPECT_THROW(ParseJson(bad), std::runtime_error) << bad;
}
