#include <gtest/gtest.h>

#include <functional>

#include "BodyEncoders.h"
#include "data/ContentDecoding.h"
#include "support/BytesOf.h"
#include "support/DataSuite.h"

namespace vd {
namespace {

using Outcome = DecodedContent::Outcome;
using Encoder = std::function<Bytes(std::span<const std::uint8_t>)>;
using test::bytesOf;
using test::patterned;

Bytes joined(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes prefix(const Bytes& bytes, std::size_t size)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
}

struct Coding {
    std::string_view name;
    Encoder encode;
};

// Every coding as the real encoders make it, under the names servers use for it.
const std::vector<Coding>& codings()
{
    static const std::vector<Coding> all{
        {"gzip", [](auto body) { return sim::gzipOf(body); }},
        {"X-GZip", [](auto body) { return sim::gzipOf(body); }},
        {"deflate", &sim::zlibOf},
        {"Deflate", &sim::rawDeflateOf},
        {"br", &sim::brotliOf},
        {"zstd", &sim::zstdOf},
    };
    return all;
}

TEST(ContentDecoding, EveryCodingRoundTripsTextAndBinaryBodiesByteForByte)
{
    const Bytes bodies[] = {
        bytesOf(R"({"user":"ana","items":[1,2,3],"note":"caf\u00e9"})"),
        patterned(300 * 1024, 7), // incompressible, and larger than a decoder's first buffer
        Bytes(3 * 1024 * 1024, 'a'), // a high ratio, so the output regrows many times
        bytesOf("x"),
    };
    for (const auto& [name, encode] : codings()) {
        for (const Bytes& body : bodies) {
            SCOPED_TRACE(testing::Message() << name << ", " << body.size() << " bytes");
            const auto decoded = decodeContent(encode(body), name);
            EXPECT_EQ(decoded.outcome, Outcome::decoded) << decoded.problem;
            EXPECT_TRUE(decoded.problem.empty());
            EXPECT_TRUE(decoded.bytes == body);
        }
    }
}

// Codings are undone from the last listed; identity, spacing, case and empty members are
// passed over; no coding at all, or an empty body, leaves the bytes as they are.
TEST(ContentDecoding, StackedCodingsAreUndoneInReverseOrder)
{
    const Bytes body = bytesOf("<html><body>stacked</body></html>");
    struct Case {
        std::string_view encoding;
        Bytes coded;
        Bytes expected;
        Outcome outcome;
    };
    const Case cases[] = {
        {"gzip, br", sim::brotliOf(sim::gzipOf(body)), body, Outcome::decoded},
        {" DEFLATE ,identity,, zstd\t", sim::zstdOf(sim::rawDeflateOf(body)), body, Outcome::decoded},
        {"br, gzip, zstd", sim::zstdOf(sim::gzipOf(sim::brotliOf(body))), body, Outcome::decoded},
        {"", body, body, Outcome::decoded},
        {"identity", body, body, Outcome::decoded},
        {"gzip", {}, {}, Outcome::decoded},
        // In the wrong order the first step already finds no gzip data.
        {"br, gzip", sim::brotliOf(sim::gzipOf(body)), {}, Outcome::failed},
    };
    for (const auto& [encoding, coded, expected, outcome] : cases) {
        SCOPED_TRACE(encoding);
        const auto decoded = decodeContent(coded, encoding);
        EXPECT_EQ(decoded.outcome, outcome) << decoded.problem;
        if (outcome == Outcome::decoded) {
            EXPECT_TRUE(decoded.bytes == expected);
        }
    }
}

// Several gzip members or zstd frames one after another form one body.
TEST(ContentDecoding, ConcatenatedMembersAndFramesAreAllDecoded)
{
    const Bytes first = bytesOf("first part, ");
    const Bytes second = patterned(100 * 1024, 3);
    EXPECT_TRUE(decodeContent(joined(sim::gzipOf(first), sim::gzipOf(second)), "gzip").bytes == joined(first, second));
    EXPECT_TRUE(decodeContent(joined(sim::zstdOf(first), sim::zstdOf(second)), "zstd").bytes == joined(first, second));
}

// The cap is exact for every coding: a body of exactly the cap is whole, one byte more is cut at
// the cap; a bomb never gets past it.
TEST(ContentDecoding, OutputStopsAtTheCapAndSaysSo)
{
    constexpr std::size_t kCap = 200 * 1024 + 17;
    const Bytes exact = patterned(kCap, 11);
    const Bytes over = patterned(kCap + 1, 11);
    for (const auto& [name, encode] : codings()) {
        SCOPED_TRACE(name);
        const auto whole = decodeContent(encode(exact), name, kCap);
        EXPECT_EQ(whole.outcome, Outcome::decoded) << whole.problem;
        EXPECT_TRUE(whole.bytes == exact);

        const auto cut = decodeContent(encode(over), name, kCap);
        EXPECT_EQ(cut.outcome, Outcome::capped);
        EXPECT_TRUE(cut.bytes == exact);
        EXPECT_EQ(cut.problem, "Stopped at 204817 bytes: the decoded body is larger");
    }

    // 64 MiB of zeros in about 64 KB: the decoded bytes keep to the cap, not to the claim.
    const auto bomb = decodeContent(sim::gzippedZeros(64u << 20), "gzip", 1u << 20);
    EXPECT_EQ(bomb.outcome, Outcome::capped);
    EXPECT_EQ(bomb.bytes, Bytes(1u << 20, 0));
    EXPECT_LE(bomb.bytes.capacity(), 1u << 20);
    EXPECT_EQ(bomb.problem, "Stopped at 1 MiB: the decoded body is larger");

    // A cap met in an inner step still gives what the outer one makes of it.
    const auto stacked = decodeContent(sim::brotliOf(sim::gzipOf(Bytes(4u << 20, 'z'))), "gzip, br", 1u << 20);
    EXPECT_EQ(stacked.outcome, Outcome::capped);
    EXPECT_EQ(stacked.bytes, Bytes(stacked.bytes.size(), 'z'));
    EXPECT_GT(stacked.bytes.size(), 0u);
}

// Data cut short or damaged fails with one line, and keeps the decoded bytes it got to.
TEST(ContentDecoding, CutAndDamagedDataFailsKeepingWhatWasDecoded)
{
    const Bytes body = patterned(256 * 1024, 5);
    const std::pair<std::string_view, std::string_view> titles[] = {
        {"gzip", "gzip"}, {"X-GZip", "gzip"}, {"deflate", "deflate"}, {"Deflate", "deflate"}, {"br", "Brotli"}, {"zstd", "Zstandard"}};
    for (const auto& [name, encode] : codings()) {
        SCOPED_TRACE(name);
        const std::string_view title = std::find_if(std::begin(titles), std::end(titles), [&](auto& t) { return t.first == name; })->second;
        const Bytes coded = encode(body);

        const auto cut = decodeContent(prefix(coded, coded.size() * 3 / 4), name);
        EXPECT_EQ(cut.outcome, Outcome::failed);
        EXPECT_EQ(cut.problem, "The " + std::string(title) + " data is cut short");
        EXPECT_GT(cut.bytes.size(), 0u);
        EXPECT_LT(cut.bytes.size(), body.size());
        EXPECT_TRUE(cut.bytes == prefix(body, cut.bytes.size()));

        // Brotli and Zstandard carry no checksum, so damage inside may pass unseen; a damaged
        // start never does.
        Bytes damaged = coded;
        std::fill_n(damaged.begin(), 4, 0xff);
        const auto broken = decodeContent(damaged, name);
        EXPECT_EQ(broken.outcome, Outcome::failed);
        EXPECT_TRUE(broken.problem.starts_with("The " + std::string(title) + " data is damaged")) << broken.problem;
    }

    const auto unknown = decodeContent(bytesOf("abc"), "gzip, compress");
    EXPECT_EQ(unknown.outcome, Outcome::failed);
    EXPECT_EQ(unknown.problem, "Unknown content coding \"compress\"");
    EXPECT_EQ(unknown.bytes, bytesOf("abc"));
    // A name from the network stays one short printable line.
    const auto hostile = decodeContent(bytesOf("abc"), "x\ny\x1b" + std::string(100, 'q'));
    EXPECT_EQ(hostile.problem, "Unknown content coding \"x?y?" + std::string(36, 'q') + "...\"");
}

} // namespace
} // namespace vd
