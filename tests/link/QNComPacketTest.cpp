#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/QNComPacket.h"
#include "platform/Base64.h"
#include "platform/Log.h"
#include "support/PacketWire.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;
using test::wireOf;
using test::wireOfJson;

Dictionary jsonInside(const Bytes& wire)
{
    const std::string text(wire.begin(), wire.end() - 2);
    const auto json = base64::decodeStrict(text);
    return Dictionary::parse(json->begin(), json->end());
}

TEST(QNComPacketWire, SingleMemberObjectGivesTheDocumentedBytes)
{
    QNComPacket packet;
    packet.dic() = Dictionary::object({{"c", 1}});
    const Bytes expected{0x65, 0x79, 0x4A, 0x6A, 0x49, 0x6A, 0x6F, 0x78, 0x66, 0x51, 0x3D, 0x3D, 0xDB, 0xBC};
    EXPECT_EQ(packet.toData(), expected);
}

TEST(QNComPacketWire, NumberedCommandCarriesExactlyItsFourMembers)
{
    QNComPacket packet = QNComPacket::initWithId(7);
    packet.setCmd(1);
    const auto wire = packet.toData();
    ASSERT_TRUE(wire);
    // The version goes out as a plain integer, as every other peer writes it.
    EXPECT_EQ(jsonInside(*wire).dump(), R"({"v":1,"c":1,"i":7,"t":1})");
    EXPECT_EQ(packet.oriDataLength(), -1);
    // No message is an empty one; no data, no "d" at all.
    packet.setMessage(std::nullopt);
    packet.setData(std::nullopt);
    EXPECT_EQ(packet.dic(), Dictionary::parse(R"({"v":1,"c":1,"i":7,"t":1,"m":""})"));
}

TEST(QNComPacketRoundTrip, KeepsEveryValueAndUnknownKeys)
{
    QNComPacket packet = QNComPacket::initWithId(-3);
    packet.setCmd(18446744073709551615ull);
    packet.setCode(-9);
    packet.setVersion(2.5f);
    packet.setMessage("héllo \"quoted\"\n\ttab ✓");
    packet.setData(Dictionary::parse(R"({"tunnels":["{\"id\":1,\"host\":\"a.b\"}"],"nested":{"x":[1,2.5,-7,true,null,"s"]},
        "big":9223372036854775807,"neg":-9223372036854775808,"empty":{},"list":[]})"));
    packet.dic()["z"] = "unknown key";
    const auto wire = packet.toData();
    ASSERT_TRUE(wire);
    const auto decoded = QNComPacket::initWithData(*wire);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->dic(), packet.dic());
    EXPECT_EQ(decoded->id_(), -3);
    EXPECT_EQ(decoded->cmd(), 18446744073709551615ull);
    EXPECT_EQ(decoded->code(), -9);
    EXPECT_FLOAT_EQ(decoded->version(), 2.5f);
    EXPECT_EQ(decoded->message(), packet.message());
    EXPECT_EQ(decoded->oriDataLength(), static_cast<std::int64_t>(wire->size()));
}

TEST(QNComPacketFields, MissingAndMistypedFieldsReadAsEmpty)
{
    const auto bare = QNComPacket::initWithData(wireOfJson(R"({"m":5,"d":[1]})"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(std::tuple(bare->cmd(), bare->id_(), bare->code()), std::tuple(0u, 0, 0));
    EXPECT_EQ(bare->message(), std::nullopt);
    EXPECT_EQ(bare->data(), nullptr);

    // The last two bytes are dropped unseen, whatever they are.
    Bytes wire = wireOfJson(R"({"t":"7","c":2.9,"i":true})");
    wire[wire.size() - 2] = 'X';
    wire[wire.size() - 1] = 'Y';
    const auto loose = QNComPacket::initWithData(wire);
    ASSERT_TRUE(loose);
    EXPECT_EQ(std::tuple(loose->cmd(), loose->id_(), loose->code()), std::tuple(7u, 1, 2));
}

// Each failure yields nothing and logs its one line: whole, or (for the JSON parser's errors)
// starting with the given text and naming the error after it.
TEST(QNComPacketDecode, EachFailureLogsItsLineAndYieldsNothing)
{
    struct Case {
        const char* name;
        Bytes wire;
        std::string line;
        bool whole = true;
    };
    Bytes badUtf8 = wireOf("eyJjIjoxfQ==");
    badUtf8[3] = 0xFF;
    const std::string jsonError = "Communication decode fail with error: ";
    const std::vector<Case> cases = {
        {"not UTF-8", badUtf8, "Wrong COM MSG"},
        {"line break inside Base64", wireOf("eyJjIjox\nfQ=="), "Communication decode fail"},
        {"character outside the alphabet", wireOf("eyJjIjox*Q=="), "Communication decode fail"},
        {"missing padding", wireOf("eyJjIjoxfQ"), "Communication decode fail"},
        {"top level is an array", wireOfJson("[1,2]"), "Communication decode fail"},
        {"top level is a number", wireOfJson("5"), "Communication decode fail"},
        {"empty input", Bytes{}, "Wrong COM MSG"},
        {"one byte", Bytes{0xBC}, "Wrong COM MSG"},
        {"unclosed object", wireOfJson(R"({"c":1)"), jsonError, false},
        {"missing value", wireOfJson(R"({"c":})"), jsonError, false},
        {"no text", wireOfJson(""), jsonError, false},
        {"control character in a string", wireOfJson(R"({"a":"\x01"})"), jsonError, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log::Capture capture;
        EXPECT_FALSE(QNComPacket::initWithData(c.wire));
        const auto lines = capture.lines();
        ASSERT_EQ(lines.size(), 1u);
        if (c.whole)
            EXPECT_EQ(lines[0], c.line);
        else
            EXPECT_TRUE(lines[0].starts_with(c.line) && lines[0].size() > c.line.size()) << lines[0];
    }
}

} // namespace
} // namespace vd
