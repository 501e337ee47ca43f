#include <gtest/gtest.h>

#include "data/VDHTTPDataParser.h"
#include "support/BytesOf.h"

namespace vd {
namespace {

using namespace std::string_view_literals;
using test::bytesOf;

constexpr int kRequest = 0;
constexpr int kResponse = 1;

struct Call {
    int status;
    Bytes data;
};

// Every completion of one feeding, in order: more than one call is as much a fault as none.
std::vector<Call> feed(VDHTTPDataParser& parser, const Bytes& input)
{
    std::vector<Call> calls;
    parser.parserData(input, [&calls](int status, const Bytes& data) { calls.push_back({status, data}); });
    return calls;
}

void expectBody(const std::vector<Call>& calls, const Bytes& body)
{
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].status, VDHTTPDataParser::kStatusComplete);
    EXPECT_EQ(calls[0].data, body);
}

// One fresh parser per message: the body its single completion gives, or none when the parser
// must not call back at all.
TEST(VDHTTPDataParser, FramingDecidesTheBodyAndWhatHasNoneIsNeverAnswered)
{
    struct Case {
        int type;
        std::string_view message;
        std::optional<std::string_view> body;
    };
    const Case cases[] = {
        {kResponse, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", "hello"},
        // Bytes of any value, blank lines and NULs among them, are body like any other.
        {kResponse, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n\0\r\n\r\n\xff\r\n1\r\n\x80\r\n0\r\n\r\n"sv, "\0\r\n\r\n\xff\x80"sv},
        // Chunks are joined without their framing, extensions and trailers.
        {kResponse, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nhe\r\n3;ext=1\r\nllo\r\n0\r\nX-Trailer: t\r\n\r\n", "hello"},
        // A response without a length ends with the input.
        {kResponse, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nhello world", "hello world"},
        {kRequest, "POST /upload HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\n\r\ndata", "data"},
        // A request never runs to the end of the connection.
        {kRequest, "POST / HTTP/1.1\r\nHost: a\r\n\r\nstray", std::nullopt},
        // The parser's type decides what is understood; only 1 means response.
        {kResponse, "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", std::nullopt}, {7, "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "abc"},
        {kRequest, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nxyz", std::nullopt},
        // An interim response is passed over; of pipelined messages only the first counts.
        {kResponse, "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok"},
        {kResponse, "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\noneHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntwo", "one"},
        // Messages without a body.
        {kRequest, "GET /index.html HTTP/1.1\r\nHost: a\r\n\r\n", std::nullopt}, {kResponse, "HTTP/1.1 204 No Content\r\n\r\n", std::nullopt},
        // Messages cut short, the last chunk missing, or headers cut.
        {kResponse, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello", std::nullopt},
        {kResponse, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", std::nullopt},
        {kResponse, "HTTP/1.1 200 OK\r\nContent-Len", std::nullopt},
        // Garbage, and lengths no input could hold, which must not turn into huge allocations.
        {kResponse, "this is not http at all\r\n\r\n", std::nullopt}, {kRequest, "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", std::nullopt},
        {kResponse, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n", std::nullopt},
        {kResponse, "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", std::nullopt},
        {kResponse, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffff\r\nabc", std::nullopt},
    };
    for (const auto& [type, message, body] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(message)));
        const auto calls = feed(*VDHTTPDataParser::initWithType(type), bytesOf(message));
        if (body)
            expectBody(calls, bytesOf(*body));
        else
            EXPECT_TRUE(calls.empty());
    }
}

// One parser fed again and again, from inside its own completion too: each body shows once, and
// neither a cut message nor garbage leaves state behind for the next feeding.
TEST(VDHTTPDataParserInput, ReusedParserShowsEachBodyOnce)
{
    auto parser = VDHTTPDataParser::initWithType(kResponse);
    const auto noInput = [&] {
        const auto calls = feed(*parser, {});
        return calls.size() == 1 && calls[0].status == VDHTTPDataParser::kStatusNoInput && calls[0].data.empty();
    };
    EXPECT_TRUE(noInput());
    const Bytes message = bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    expectBody(feed(*parser, message), bytesOf("hello"));
    expectBody(feed(*parser, message), bytesOf("hello"));
    EXPECT_TRUE(noInput()) << "an earlier body leaks into the answer for empty input";
    EXPECT_TRUE(feed(*parser, bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\npart")).empty());
    expectBody(feed(*parser, bytesOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nnew\r\n0\r\n\r\n")), bytesOf("new"));
    EXPECT_TRUE(feed(*parser, bytesOf("garbage\r\n\r\n")).empty());
    expectBody(feed(*parser, message), bytesOf("hello"));
    parser->parserData(message, nullptr); // without a completion nothing is called

    std::vector<Bytes> bodies;
    parser->parserData(bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"), [&](int, const Bytes& data) {
        bodies.push_back(data);
        parser->parserData(bytesOf("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond"), [&](int, const Bytes& inner) { bodies.push_back(inner); });
    });
    EXPECT_EQ(bodies, (std::vector<Bytes>{bytesOf("first"), bytesOf("second")}));
}

} // namespace
} // namespace vd
