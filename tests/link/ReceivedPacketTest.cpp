#include <random>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <simdjson.h>

#include "link/ReceivedPacket.h"
#include "platform/Log.h"
#include "support/FullParse.h"
#include "support/PacketWire.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;
using Texts = std::vector<std::string>;

using test::wireOfJson;

std::optional<std::string> decodedDump(const std::string& json)
{
    auto received = ReceivedPacket::decode(wireOfJson(json));
    if (!received)
        return std::nullopt;
    const auto packet = received->takePacket();
    return packet ? std::optional(test::kindedDump(packet->dic())) : std::nullopt;
}

std::optional<std::string> fullParseDump(const std::string& json)
{
    const auto parsed = test::fullParse(json);
    return parsed ? std::optional(test::kindedDump(*parsed)) : std::nullopt;
}

Texts textsOf(const std::string& json)
{
    const auto received = ReceivedPacket::decode(wireOfJson(json));
    Texts texts;
    if (received) {
        for (const auto text : received->texts())
            texts.emplace_back(text);
    }
    return texts;
}

// The record texts are left as the wire has them, escapes and all; their places in the packet
// hold nulls, and unescaping gives what a dictionary would hold.
TEST(ReceivedPacket, RecordTextsStayEscapedInOrderAndUnescapeToWhatTheDictionaryHolds)
{
    const std::string json = R"({"c":1,"t":7,"d":{"tunnels":["{\"a\":\"x\\\"y\"}" , 5,"caf\u00e9\n",{"k":"v"},""],)"
                             R"("other":["kept"]}})";
    auto received = ReceivedPacket::decode(wireOfJson(json));
    ASSERT_TRUE(received);
    EXPECT_EQ(Texts(received->texts().begin(), received->texts().end()),
              (Texts{R"({\"a\":\"x\\\"y\"})", R"(caf\u00e9\n)", ""}));

    Texts unescaped;
    for (const auto text : received->texts()) {
        std::string out;
        ASSERT_TRUE(ReceivedPacket::unescapeText(text, out));
        EXPECT_GE(out.capacity(), out.size() + simdjson::SIMDJSON_PADDING);
        unescaped.push_back(out);
    }
    EXPECT_EQ(unescaped, (Texts{R"({"a":"x\"y"})", "caf\xC3\xA9\n", ""}));

    const auto& without = received->withoutTexts().dic();
    EXPECT_EQ(without["d"]["tunnels"], Dictionary::parse(R"([null,5,null,{"k":"v"},null])"));
    EXPECT_EQ(without["d"]["other"], Dictionary::parse(R"(["kept"])"));
    EXPECT_EQ(without["t"], 7);

    const auto whole = received->takePacket();
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->dic(), test::fullParse(json));
    EXPECT_EQ(whole->oriDataLength(), static_cast<std::int64_t>(wireOfJson(json).size()));
}

TEST(ReceivedPacket, TheTextsAreThoseOfTheLastDataAndItsLastArray)
{
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"],"tunnels":["b"]}})"), Texts{"b"});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"]},"d":{"tunnels":["c"]}})"), Texts{"c"});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"]},"d":5})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"]},"d":{"x":1}})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"],"tunnels":"b"}})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":{"x":"a"}}})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":["a"]})"), Texts{});
    EXPECT_EQ(textsOf(R"({"tunnels":["a"]})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":{"x":{"tunnels":["a"]}}})"), Texts{});
    EXPECT_EQ(textsOf(R"({"d":{"tunnels":["a"]},"i":1,"t":7})"), Texts{"a"});

    auto received = ReceivedPacket::decode(wireOfJson(R"({"d":{"tunnels":["a"],"tunnels":"b","x":["c"]}})"));
    ASSERT_TRUE(received);
    EXPECT_EQ(received->withoutTexts().dic(), Dictionary::parse(R"({"d":{"tunnels":"b","x":["c"]}})"));
}

// Only unescaping a text finds an escape JSON does not allow; the packet is then refused with
// one line, as one that does not decode.
TEST(ReceivedPacket, ATextWithABadEscapeFailsWhenUnescapedWithOneLine)
{
    for (const std::string bad : {R"(\x)", R"(\u12)", R"(\uD800)", R"(\uD800\u0041)", R"(a\)"}) {
        SCOPED_TRACE(bad);
        const std::string json = R"({"t":3,"d":{"tunnels":["ok",")" + bad + R"("]}})";
        log::Capture capture;
        auto received = ReceivedPacket::decode(wireOfJson(json));
        if (bad == R"(a\)") {
            // The backslash takes the quote with it: the string never closes.
            EXPECT_FALSE(received);
            continue;
        }
        ASSERT_TRUE(received);
        EXPECT_TRUE(capture.lines().empty());
        ASSERT_EQ(received->texts().size(), 2u);
        std::string out;
        EXPECT_TRUE(ReceivedPacket::unescapeText(received->texts()[0], out));
        EXPECT_FALSE(ReceivedPacket::unescapeText(received->texts()[1], out));
        EXPECT_FALSE(received->takePacket());
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_TRUE(lines[0].starts_with("Communication decode fail with error: ")) << lines[0];
        EXPECT_EQ(lines[1], lines[0]);
    }
}

// A text kept anywhere, not only in a packet, unescapes: nothing after it is read as its own.
TEST(ReceivedPacket, UnescapingReadsOnlyTheTextWhereverItLies)
{
    const std::string buffer = R"(a\"b\\c\u00e9\ud83d\ude00"tail\)";
    std::string out = "left over";
    ASSERT_TRUE(ReceivedPacket::unescapeText(std::string_view(buffer).substr(0, 26), out));
    EXPECT_EQ(out, "a\"b\\c\xC3\xA9\xF0\x9F\x98\x80");
    ASSERT_TRUE(ReceivedPacket::unescapeText(std::string_view(buffer).substr(0, 1), out));
    EXPECT_EQ(out, "a");
    ASSERT_TRUE(ReceivedPacket::unescapeText({}, out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(ReceivedPacket::unescapeText(R"(ab\)", out));
    ASSERT_TRUE(ReceivedPacket::unescapeText(R"(ab\\)", out));
    EXPECT_EQ(out, "ab\\");
    const std::string longText(100000, 'x');
    ASSERT_TRUE(ReceivedPacket::unescapeText(longText + "\\n", out));
    EXPECT_EQ(out, longText + "\n");
}

// Decoding walks the packet once; it must accept exactly what a full parse accepts and make
// the same values of it, each of the same kind.
TEST(ReceivedPacket, DecodesExactlyAsAFullParse)
{
    std::vector<std::string> cases = {
        R"({})",
        R"( {"a" : 1 } )",
        "{\"a\":1}\n\t ",
        R"({"a":1} x)",
        R"({"a":1}})",
        R"({"a":1},)",
        R"({"a":1}{"b":2})",
        R"({"a":1}[)",
        R"({"a":1)",
        R"({"a":[1,2})",
        R"({"a":[1,2,]})",
        R"({"a":1,})",
        R"({,"a":1})",
        R"({"a" 1})",
        R"({"a":1 "b":2})",
        R"({a:1})",
        R"({"a":nul})",
        R"({"a":nulll})",
        R"({"a":tru})",
        R"({"a":falsey})",
        R"({"a":[null,true,false]})",
        R"({"n":[0,-0,1.0,1e2,1E-2,-1.5e+3,0.1,123456789012345678]})",
        R"({"n":[9223372036854775807,9223372036854775808,-9223372036854775808,-9223372036854775809]})",
        R"({"n":[18446744073709551615,18446744073709551616]})",
        R"({"n":1e400})",
        R"({"n":[1746576946.2337060337,0.1234567890123456789012,-0.0,0e0,4.9e-324,2.5e-324,1.5e308,1.7976931348623157e308]})",
        R"({"n":[1e-400,-1e-400,0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000001]})",
        R"({"n":123456789012345678901234567890.5})",
        R"({"n":123456789012345678901234567890})",
        R"({"n":2e308})",
        R"({"n":-1e99999999999999999999})",
        R"({"n":1e-99999999999999999999})",
        R"({"n":1x})",
        R"({"n":[1 2]})",
        R"({"n":-01})",
        R"({"n":1.5E+3})",
        R"({"n":1e})",
        R"({"n":01})",
        R"({"n":1.})",
        R"({"n":.5})",
        R"({"n":-})",
        R"({"n":+1})",
        R"({"n":0x10})",
        R"({"s":"\u0000\u001f\"\\\/\b\f\n\r\t"})",
        R"({"s":"\ud83d\ude00 \u00e9 \u20ac"})",
        R"({"s":"\ud800"})",
        R"({"s":"\udc00"})",
        R"({"s":"\ud800\udbff"})",
        R"({"s":"\x"})",
        "{\"s\":\"a\x01\"}",
        "{\"s\":\"caf\xC3\xA9\"}",
        "{\"s\":\"bad \xC3\"}",
        "{\"s\":\"bad \xFF\"}",
        R"({"\u0041":1,"A":2})",
        R"({"k\ud800":1})",
        R"({"a":1,"a":{"b":2},"a":[3]})",
        R"({"d":{"tunnels":["x",1,null,{"y":["z"]},"\\\"",[]],"tunnels2":["w"]}})",
        R"({"d":{"tunnels":["x"] "y"}})",
        R"({"d":{"tunnels":["x" "y"]}})",
        R"({"d":{"tunnels":["x",]}})",
        R"({"d":{"tunnels":["x":1]}})",
        R"({"d":{"tunnels":["x":u,"y"]}})",
        R"({"d":{"tunnels":["x"}}})",
        R"({"d":{"x":["y":1]}})",
        R"({"d":["x":1]})",
        R"({"n":[1:2]})",
        R"({"n":1:2})",
        R"({"n":1.5:"x"})",
        R"({"v":1,"d":1,"i":6,"t":8,"d":{"tunnels":["x,application/xapplicatio~/y":u,"record"servi],"ic\"policyM!me\":\"DIRECT\"}"]}})",
        R"({"d":{"tunnels":["\x"]}})",
        R"({"d":{"tunnels":[)",
        R"([1,2])",
        R"("text")",
        R"(5)",
        R"(null)",
        "",
        "   ",
    };
    // Past a few keys, members are looked up another way; repeats must still keep their first
    // place with their last value.
    std::string large = R"({"a":1,"b":2,"a":3)";
    for (int i = 0; i < 40; ++i)
        large += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
    cases.push_back(large + R"(,"k5":"again","a":{"x":[1]},"k39":"last"})");
    for (const auto& json : cases) {
        SCOPED_TRACE(json);
        EXPECT_EQ(decodedDump(json), fullParseDump(json));
    }
    // Too deep a nesting is refused, not walked until the stack runs out.
    std::string deep = R"({"a":)";
    for (int depth = 0; depth < 1100; ++depth)
        deep += depth % 2 ? "[" : "{\"k\":";
    for (const int depth : {1000, 1021, 1022, 1023, 1024, 1025, 1100}) {
        SCOPED_TRACE(depth);
        std::string json = deep.substr(0, 5 + depth / 2 * 6 + depth % 2 * 5) + "0";
        for (int level = depth - 1; level >= 0; --level)
            json += level % 2 ? "]" : "}";
        json += "}";
        EXPECT_EQ(decodedDump(json), fullParseDump(json));
    }
}

// The same over damaged reports: bytes changed, dropped and repeated at random.
TEST(ReceivedPacket, DamagedReportsDecodeExactlyAsAFullParse)
{
    const std::string report =
        R"({"c":0,"i":12,"t":3,"v":1,"m":"","d":{"count":2,"tunnels":["{\"id\":1,\"host\":\"a.example\",)"
        R"(\"headerString\":\"GET / HTTP/1.1\\r\\nHost: a\\r\\n\\r\\n\",\"rx\":12.5}","{\"id\":2,\"t_end\":0}"],)"
        R"("extra":[true,false,null,-1,2e3,{"k":"\u00e9"}]}})";
    const std::string alphabet = R"({}[]:,"\ 0123456789.eE+-tfnul\uabcdx)";
    std::mt19937 random(20261209);
    int refused = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string json = report;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int edit = 0; edit < edits; ++edit) {
            const std::size_t at = random() % json.size();
            switch (random() % 3) {
            case 0: json[at] = alphabet[random() % alphabet.size()]; break;
            case 1: json.erase(at, 1 + random() % 4); break;
            case 2: json.insert(at, json.substr(random() % json.size(), 1 + random() % 6)); break;
            }
        }
        SCOPED_TRACE(json);
        const auto expected = fullParseDump(json);
        refused += !expected;
        ASSERT_EQ(decodedDump(json), expected);
    }
    // Both kinds were met many times.
    EXPECT_GT(refused, 1000);
    EXPECT_LT(refused, 3900);
}

} // namespace
} // namespace vd
