#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/AtomicFile.h"
#include "data/VDTunnelInfo.h"
#include "data/har/HarBody.h"
#include "data/har/HarWriter.h"
#include "data/har/JsonWriter.h"
#include "platform/Base64.h"
#include "BodyEncoders.h"
#include "support/BytesOf.h"
#include "support/TempDir.h"

namespace vd {
namespace {

using nlohmann::json;
using test::bytesOf;

std::string asText(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string withLength(std::string head, std::string_view body)
{
    return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
}

struct Record {
    std::int64_t id = 1;
    std::int64_t type = 1;
    std::string request = "GET /a?x=1&y=%20z HTTP/1.1\r\nHost: shop.example\r\nCookie: s=1; t=two\r\n\r\n";
    std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nSet-Cookie: k=v; Path=/; HttpOnly\r\n\r\n";
    // For decrypted HTTPS: the plain headers are the CONNECT, these the inner exchange.
    std::string tlsRequest;
    std::string tlsResponse;
    bool hasSend = false;
    bool hasReceive = false;
    std::vector<double> times{100.0, 100.010, 100.030, 0, 100.250, 0, 101.0};
};

std::shared_ptr<const VDTunnelInfo> recordOf(const Record& r)
{
    json text{{"id", r.id}, {"endId", r.id + 1}, {"type", r.type}, {"host", "shop.example"}, {"port", 8080},
              {"ipAddr", "192.0.2.7"}, {"headerString", r.request}, {"responseHeader", r.response},
              {"hasSend", r.hasSend}, {"hasReceive", r.hasReceive}};
    const char* keys[] = {"t_start", "t_server_ready", "t_dns_resolved", "t_rule_found", "t_proxy_ready", "t_close", "t_end"};
    for (std::size_t i = 0; i < r.times.size(); ++i)
        text[keys[i]] = r.times[i];
    if (!r.tlsRequest.empty()) {
        text["SSLHeaderString"] = r.tlsRequest;
        text["SSLResponseHeader"] = r.tlsResponse;
        text["SSLHost"] = "api.example";
    }
    return VDTunnelInfo::initWithJSONString(text.dump(), 1.7e9);
}

struct Written {
    json log;
    std::size_t entries = 0;
    std::size_t leftOut = 0;
};

Written harOf(const std::vector<std::pair<Record, std::pair<std::string, std::string>>>& exchanges)
{
    std::ostringstream out;
    har::HarWriter writer(out, {"Test", "1"});
    for (const auto& [record, captured] : exchanges) {
        const Bytes request = bytesOf(captured.first);
        const Bytes response = bytesOf(captured.second);
        writer.add(*recordOf(record), {request, response});
    }
    writer.finish();
    return {json::parse(out.str()), writer.entriesWritten(), writer.recordsLeftOut()};
}

// Every member HAR 1.2 requires of an entry, by JSON pointer, with its type.
const std::vector<std::pair<std::string, json::value_t>> kMandatory{
    {"/startedDateTime", json::value_t::string},   {"/time", json::value_t::number_float},
    {"/request/method", json::value_t::string},    {"/request/url", json::value_t::string},
    {"/request/httpVersion", json::value_t::string}, {"/request/cookies", json::value_t::array},
    {"/request/headers", json::value_t::array},    {"/request/queryString", json::value_t::array},
    {"/request/headersSize", json::value_t::number_integer}, {"/request/bodySize", json::value_t::number_integer},
    {"/response/status", json::value_t::number_integer}, {"/response/statusText", json::value_t::string},
    {"/response/httpVersion", json::value_t::string}, {"/response/cookies", json::value_t::array},
    {"/response/headers", json::value_t::array},   {"/response/redirectURL", json::value_t::string},
    {"/response/headersSize", json::value_t::number_integer}, {"/response/bodySize", json::value_t::number_integer},
    {"/response/content/size", json::value_t::number_integer}, {"/response/content/mimeType", json::value_t::string},
    {"/cache", json::value_t::object},             {"/timings/send", json::value_t::number_float},
    {"/timings/wait", json::value_t::number_float}, {"/timings/receive", json::value_t::number_float},
    {"/serverIPAddress", json::value_t::string},   {"/connection", json::value_t::string},
};

// Numbers written without a fraction parse as integers; a float member may be either.
bool hasType(const json& value, json::value_t type)
{
    if (type == json::value_t::number_float)
        return value.is_number();
    if (type == json::value_t::number_integer)
        return value.is_number_integer();
    return value.type() == type;
}

Bytes bodyOf(const json& content)
{
    const std::string text = content.at("text");
    if (content.value("encoding", "") == "base64")
        return base64::decodeStrict(text).value();
    return bytesOf(text);
}

TEST(HarWriter, EveryEntryHasTheMandatoryMembersAndOnlyHttpRecordsBecomeEntries)
{
    Record decrypted{.id = 4, .type = 2, .request = "CONNECT api.example:443 HTTP/1.1\r\nHost: api.example:443\r\n\r\n",
                     .response = "HTTP/1.1 200 Connection established\r\n\r\n",
                     .tlsRequest = "POST /form HTTP/1.1\r\nHost: api.example\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n",
                     .tlsResponse = "HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n", .hasSend = true};
    const std::string form = "name=J%C3%B6rg&q=a+b";
    const auto written = harOf({
        {{.id = 2}, {}},
        {{.id = 3, .type = 4}, {}},                                     // plain TCP
        {{.id = 5, .type = 2, .request = "CONNECT x:443 HTTP/1.1\r\n\r\n"}, {}}, // TLS not decrypted
        {decrypted, {withLength(decrypted.tlsRequest.substr(0, decrypted.tlsRequest.size() - 2), form) + form, ""}},
        {{.id = 6, .response = "", .times = {100, 0, 0, 0, 0, 0, 0}}, {}}, // no answer, still open
    });
    EXPECT_EQ(written.entries, 3u);
    EXPECT_EQ(written.leftOut, 2u);
    const json& log = written.log.at("log");
    EXPECT_EQ(log.at("version"), "1.2");
    EXPECT_EQ(log.at("creator"), json({{"name", "Test"}, {"version", "1"}}));
    const json& entries = log.at("entries");
    ASSERT_EQ(entries.size(), 3u);
    for (const json& entry : entries) {
        for (const auto& [pointer, type] : kMandatory) {
            const json::json_pointer at(pointer);
            ASSERT_TRUE(entry.contains(at)) << pointer << " in " << entry.dump();
            EXPECT_TRUE(hasType(entry.at(at), type)) << pointer << " is " << entry.at(at).dump();
        }
        for (const char* phase : {"send", "wait", "receive"})
            EXPECT_GE(entry.at("timings").at(phase).get<double>(), 0.0) << phase;
    }

    const json& plain = entries[0];
    EXPECT_EQ(plain.at("connection"), "2");
    EXPECT_EQ(plain.at("startedDateTime"), "2023-11-14T22:15:00.000Z");
    EXPECT_EQ(plain.at("request").at("url"), "http://shop.example/a?x=1&y=%20z");
    EXPECT_EQ(plain.at("request").at("queryString"), json::parse(R"([{"name":"x","value":"1"},{"name":"y","value":" z"}])"));
    EXPECT_EQ(plain.at("request").at("cookies"), json::parse(R"([{"name":"s","value":"1"},{"name":"t","value":"two"}])"));
    EXPECT_EQ(plain.at("response").at("cookies"),
              json::parse(R"([{"name":"k","value":"v","path":"/","httpOnly":true,"secure":false}])"));
    EXPECT_EQ(plain.at("timings"), json::parse(R"({"blocked":10,"dns":20,"connect":220,"ssl":-1,"send":0,"wait":750,"receive":0})"));
    EXPECT_EQ(plain.at("time"), 1000);
    EXPECT_FALSE(plain.at("request").contains("postData"));

    const json& inner = entries[1];
    EXPECT_EQ(inner.at("request").at("url"), "https://api.example/form");
    EXPECT_EQ(inner.at("response").at("status"), 302);
    EXPECT_EQ(inner.at("response").at("redirectURL"), "/next");
    const json& post = inner.at("request").at("postData");
    EXPECT_EQ(post.at("text"), form);
    EXPECT_EQ(post.at("params"), json::parse(R"([{"name":"name","value":"Jörg"},{"name":"q","value":"a b"}])"));

    const json& unanswered = entries[2];
    EXPECT_EQ(unanswered.at("response").at("status"), 0);
    EXPECT_EQ(unanswered.at("response").at("bodySize"), -1);
    EXPECT_EQ(unanswered.at("timings"), json::parse(R"({"blocked":-1,"dns":-1,"connect":-1,"ssl":-1,"send":0,"wait":0,"receive":0})"));
}

struct BodyCase {
    const char* name;
    std::string head;
    std::string wire;
    // What content.text must carry, byte for byte.
    std::string shown;
    bool base64 = false;
    bool problem = false;
};

TEST(HarWriter, ResponseBodiesRoundTripDecodedByteForByte)
{
    const std::string page = "<html><body>Grüße</body></html>";
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\x00", 18);
    const Bytes plain = bytesOf(page);
    const std::string zipped = asText(sim::gzipOf(plain));
    const std::vector<BodyCase> cases{
        {"gzip html", "Content-Encoding: gzip\r\nContent-Type: text/html\r\n", zipped, page},
        {"br", "Content-Encoding: br\r\n", asText(sim::brotliOf(plain)), page},
        {"raw deflate", "Content-Encoding: deflate\r\n", asText(sim::rawDeflateOf(plain)), page},
        {"zstd over gzip", "Content-Encoding: gzip\r\nContent-Encoding: zstd\r\n", asText(sim::zstdOf(sim::gzipOf(plain))), page},
        {"binary", "Content-Type: image/png\r\n", png, png, true},
        {"latin-1 text", "Content-Type: text/plain\r\n", "caf\xe9", "caf\xe9", true},
        {"escapes", "", "\"quoted\"\\\n\t\x01", "\"quoted\"\\\n\t\x01"},
        {"truncated gzip", "Content-Encoding: gzip\r\n", zipped.substr(0, zipped.size() / 2), zipped.substr(0, zipped.size() / 2),
         true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string response = withLength("HTTP/1.1 200 OK\r\n" + c.head, c.wire) + c.wire;
        const auto written = harOf({{{.response = response.substr(0, response.size() - c.wire.size()), .hasReceive = true}, {"", response}}});
        const json& content = written.log.at("/log/entries/0/response/content"_json_pointer);
        EXPECT_EQ(bodyOf(content), bytesOf(c.shown));
        EXPECT_EQ(content.at("size"), c.shown.size());
        EXPECT_EQ(content.value("encoding", "") == "base64", c.base64);
        EXPECT_EQ(content.contains("comment"), c.problem);
        EXPECT_EQ(written.log.at("/log/entries/0/response/bodySize"_json_pointer), c.wire.size());
    }
}

// A body that decodes past the cap is logged as it came, with the reason.
TEST(HarWriter, BodiesPastTheCapKeepTheirWireBytes)
{
    const Bytes bomb = sim::gzipOf(Bytes(64 * 1024, 0));
    const std::string message = withLength("HTTP/1.1 200 OK\r\n", asText(bomb)) + asText(bomb);
    const auto body = har::messageBodyOf(bytesOf(message), true, "gzip", 1024);
    EXPECT_FALSE(body.showsDecoded);
    EXPECT_EQ(body.problem, "Stopped at 1 KiB: the decoded body is larger");
    EXPECT_TRUE(std::ranges::equal(body.content(), bomb));
}

TEST(HarWriter, ChunkedBodiesLoseTheirFraming)
{
    const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const auto written = harOf({{{.response = head, .hasReceive = true}, {"", head + "2\r\nhe\r\n3\r\nllo\r\n0\r\n\r\n"}}});
    EXPECT_EQ(written.log.at("/log/entries/0/response/content/text"_json_pointer), "hello");
    EXPECT_EQ(written.log.at("/log/entries/0/response/bodySize"_json_pointer), 5);
}

TEST(JsonWriter, TextThatIsNoUtf8StillMakesValidJson)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"plain \"q\" \\ \x01\x1f\x7f", "plain \"q\" \\ \x01\x1f\x7f"},
        {"Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x98\x80", "Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x98\x80"},
        {"a\xff" "b", "a\xef\xbf\xbd" "b"},             // never a UTF-8 byte
        {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd"},      // overlong slash
        {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"}, // a surrogate
        {"end\xe2\x82", "end\xef\xbf\xbd\xef\xbf\xbd"},  // cut short
    };
    for (const auto& [bytes, text] : cases) {
        std::ostringstream out;
        har::JsonWriter writer(out);
        writer.beginArray();
        writer.string(bytes);
        writer.endArray();
        EXPECT_EQ(json::parse(out.str()).at(0).get<std::string>(), text) << out.str();
    }
}

TEST(HarWriter, TimingsStayInOrderWhateverStampsAreMissing)
{
    // start, server ready, dns, rule, proxy ready, close, end
    const std::vector<std::pair<std::vector<double>, json>> cases{
        {{5, 5.1, 0, 0, 5.3, 0, 6}, R"({"blocked":100,"dns":-1,"connect":200,"ssl":-1,"send":0,"wait":700,"receive":0})"_json},
        {{5, 5.1, 5.2, 5.25, 5.3, 5.9, 6}, R"({"blocked":150,"dns":100,"connect":50,"ssl":-1,"send":0,"wait":700,"receive":0})"_json},
        {{5, 4, 3, 2, 1, 0, 0.5}, R"({"blocked":-1,"dns":-1,"connect":-1,"ssl":-1,"send":0,"wait":0,"receive":0})"_json},
        {{5, 5.1, 5.2, 0, 5.3, 0, 5.25}, R"({"blocked":100,"dns":100,"connect":100,"ssl":-1,"send":0,"wait":0,"receive":0})"_json},
    };
    for (const auto& [times, timings] : cases) {
        const json entry = harOf({{{.times = times}, {}}}).log.at("/log/entries/0"_json_pointer);
        EXPECT_EQ(entry.at("timings"), timings) << json(times).dump();
        double sum = 0;
        for (const auto& [phase, value] : timings.items())
            sum += std::max(0.0, value.get<double>());
        EXPECT_NEAR(entry.at("time").get<double>(), sum, 0.001);
    }
}

TEST(AtomicFileWriter, TheTargetChangesOnlyOnCommitAndNothingIsLeftBehind)
{
    const test::TempDir folder;
    const auto target = folder / "out.har";
    ASSERT_TRUE(writeFileAtomically(target, bytesOf("old"), ExistingFile::replace));
    {
        const auto dropped = AtomicFileWriter::create(target);
        ASSERT_TRUE(dropped);
        dropped->stream() << "half";
    }
    const auto kept = AtomicFileWriter::create(target);
    ASSERT_TRUE(kept);
    kept->stream() << "new";
    std::ifstream before(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(before), {}), "old");
    ASSERT_TRUE(kept->commit());
    std::ifstream after(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after), {}), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
    EXPECT_FALSE(AtomicFileWriter::create(folder / "missing" / "out.har"));
}

} // namespace
} // namespace vd
