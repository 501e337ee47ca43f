// The packet encoder must put on the wire exactly the bytes of the dictionary's own dump() in
// the toolkit's Base64, and refuse exactly the texts dump() refuses, with dump()'s reason.

#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <QByteArray>
#include <gtest/gtest.h>

#include "BodyGallery.h"
#include "TrafficModel.h"
#include "link/QNComPacket.h"
#include "platform/Base64.h"
#include "platform/Log.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;

// What the link sent before it had its own writer, or the reason dump() gives for refusing.
struct Reference {
    std::optional<Bytes> wire;
    std::string failure;
};

Reference referenceOf(const Dictionary& dictionary)
{
    std::string json;
    try {
        json = dictionary.dump(-1, ' ', false, Dictionary::error_handler_t::strict);
    } catch (const Dictionary::exception& error) {
        return {std::nullopt, std::string("Communication encode fail with error: ") + error.what()};
    }
    const QByteArray text = QByteArray(json.data(), static_cast<qsizetype>(json.size())).toBase64();
    Bytes wire(text.begin(), text.end());
    wire.insert(wire.end(), std::begin(QNComPacket::kTerminator), std::end(QNComPacket::kTerminator));
    return {std::move(wire), {}};
}

void expectSameWire(const Dictionary& dictionary, const std::string& what)
{
    SCOPED_TRACE(what);
    const Reference reference = referenceOf(dictionary);
    QNComPacket packet;
    packet.dic() = dictionary;
    log::Capture capture;
    const auto wire = packet.toData();
    ASSERT_EQ(wire.has_value(), reference.wire.has_value());
    if (wire) {
        // Compared as text: a difference then shows where it is.
        EXPECT_EQ(std::string(wire->begin(), wire->end()), std::string(reference.wire->begin(), reference.wire->end()));
        EXPECT_TRUE(capture.lines().empty());
    } else {
        EXPECT_EQ(capture.lines(), std::vector<std::string>{reference.failure});
    }
}

// A packet as the service frames a reply, carrying `data`.
Dictionary replyWith(Dictionary data)
{
    QNComPacket packet = QNComPacket::initWithId(12);
    packet.setCmd(7);
    packet.setData(std::move(data));
    return packet.dic();
}

TEST(WireEncoder, SimulatorPacketsGiveTheSameBytes)
{
    sim::ModelOptions options;
    options.scale = 1000;
    options.bodyGallery = true;
    options.idleShare = 0.3;
    sim::TrafficModel model(options);
    for (int step = 0; step < 8; ++step)
        model.step();

    expectSameWire(replyWith({{"tunnels", Dictionary::parse("[" + model.activeTexts() + "]")}}), "active report");
    expectSameWire(replyWith({{"tunnels", Dictionary::parse("[" + model.recentTexts({}) + "]")}}), "recent records");
    expectSameWire(replyWith(model.dnsTable()), "DNS table");
    expectSameWire(replyWith({{"processes", model.processes()}}), "processes");
    expectSameWire(replyWith(model.trafficInfo()), "traffic info");
    for (const auto& body : sim::bodyGallery()) {
        // As the service sends captured bodies, in Base64; and their bytes and meanings as
        // strings, which are UTF-8 for the texts and not for the binary and compressed ones.
        const std::string message = body.headerLines + body.wire;
        expectSameWire(replyWith({{"tunnel_id", 5}, {"data", base64::encode({reinterpret_cast<const std::uint8_t*>(message.data()), message.size()})}}),
                       body.name + " in Base64");
        expectSameWire(replyWith({{"headers", body.headerLines}, {"wire", body.wire}}), body.name + " as sent");
        expectSameWire(replyWith({{"plain", body.plain}}), body.name + " decoded");
    }
}

// Every kind of value dump() knows, and strings at the edges of JSON and UTF-8, as values and
// as keys.
TEST(WireEncoder, OddValuesAndStringsGiveTheSameBytesOrTheSameRefusal)
{
    std::vector<std::string> strings = {
        "", "plain", "\x7f", "\"quoted\" \\back\\slashed\\", "/slash", "\b\f\n\r\t",
        "\xE2\x80\xA8 line and paragraph \xE2\x80\xA9 separators", "h\xC3\xA9llo \xE2\x9C\x93", "\xF0\x9F\x98\x80 emoji",
        "\xF4\x8F\xBF\xBF highest", "\xEF\xBF\xBF", "\xED\x9F\xBF below the surrogates", "\xEE\x80\x80 above them",
        // Refused by dump(): a lone surrogate (high and low), overlong forms, above U+10FFFF,
        // stray continuations, bytes never in UTF-8, and sequences cut off at the end.
        "\xED\xA0\x80", "x\xED\xBF\xBFy", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80", "\x80",
        "ok\xBF", "\xF5\x80\x80\x80", "\xFF\xFE", "\xE2\x82", "abc\xF0\x9F\x98", "\xC3"};
    for (int c = 0; c < 0x20; ++c)
        strings.push_back(std::string(1, static_cast<char>(c)) + "after" + std::string(1, static_cast<char>(c)));
    for (const auto& text : strings) {
        const std::string what = "the string " + nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        expectSameWire(Dictionary::object({{"m", text}, {"d", Dictionary::array({text, Dictionary::object({{text, 1}})})}}), what);
    }

    const double inf = std::numeric_limits<double>::infinity();
    const Dictionary values = Dictionary::array({
        nullptr, true, false, 0, -1, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
        std::numeric_limits<std::uint64_t>::max(), 0.1, -0.0, 2.5, 1e300, 5e-324, -1.7976931348623157e308, 1e21, 1e-7, 100.0,
        std::nan(""), inf, -inf, Dictionary::object(), Dictionary::array(), Dictionary::binary({1, 2, 255}, 42),
        Dictionary::binary({}), Dictionary::array({Dictionary::array({Dictionary::object({{"", Dictionary::array()}})})}),
    });
    expectSameWire(Dictionary::object({{"values", values}}), "every kind of value");
    expectSameWire(Dictionary::object(), "an empty dictionary");
    expectSameWire(values, "an array at the top");
}

// Long strings cross the writer's pieces many times, with escapes (one byte into two or six
// characters) and multi-byte characters straddling the boundaries.
TEST(WireEncoder, LongStringsAcrossPiecesGiveTheSameBytes)
{
    const std::vector<std::pair<std::string, std::string>> patterns = {
        {"plain", "abcdefghij"}, {"quotes", "a\"b\\c"}, {"controls", "\x01\x1f"}, {"UTF-8", "\xE2\x80\xA8\xC3\xA9x\xF0\x9F\x98\x80"}};
    for (const auto& [name, pattern] : patterns) {
        for (const std::size_t length : {std::size_t{49140}, std::size_t{49152}, std::size_t{49163}, std::size_t{1} << 20}) {
            std::string text;
            while (text.size() < length)
                text += pattern;
            // Shifted by one and two bytes, whole characters all.
            expectSameWire(Dictionary::object({{"a", text}, {"b", Dictionary::array({"x" + text, "xy" + text, 7})}}),
                           name + " of " + std::to_string(length) + " bytes");
        }
    }
}

// Random strings over the bytes that matter: ASCII, escapes, and every kind of UTF-8 byte in
// orders valid and not, so the writer's UTF-8 check and dump()'s agree on each.
TEST(WireEncoder, RandomTextsAreWrittenOrRefusedAsDumpDoes)
{
    const std::string alphabet = std::string("a\"\\\n\x01\x7f", 6) + "\xC2\xC3\xDF\xE0\xE2\xED\xEF\xF0\xF4\xF5\x80\x8F\x90\x9F\xA0\xBF\xC0";
    std::mt19937 random(2028);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text(random() % 12, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        const bool valid = referenceOf(Dictionary(text)).wire.has_value();
        refused += !valid;
        expectSameWire(Dictionary::object({{"t", text}}), "round " + std::to_string(round));
        if (HasFailure())
            return;
    }
    // Both outcomes must have been tried often for the agreement to mean anything.
    EXPECT_GT(refused, 300);
    EXPECT_LT(refused, 2700);
}

} // namespace
} // namespace vd
