#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "data/CurlCommand.h"
#include "data/TunnelExchange.h"
#include "data/VDTunnelInfo.h"

namespace vd {
namespace {

using Json = nlohmann::ordered_json;

std::shared_ptr<const VDTunnelInfo> tunnel(Json fields)
{
    Json json{{"id", 3}, {"type", 1}, {"host", "example.com"}, {"port", 80}};
    json.update(fields);
    return VDTunnelInfo::initWithJSONString(json.dump(), 1000);
}

// The words a POSIX shell makes of a command line, as curl would receive them: `curl` is a shell
// function that prints its arguments NUL-separated, so whatever the shell expands shows.
std::vector<std::string> wordsAsShellSplitsThem(const std::string& command)
{
    const std::string script = "curl() { for a; do printf '%s\\0' \"$a\"; done; }\n" + command + "\n";
    const std::string path = testing::TempDir() + "curl-words.sh";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(script.data(), 1, script.size(), file);
    std::fclose(file);
    FILE* shell = popen(("sh " + path).c_str(), "r");
    std::string out;
    for (int c; (c = std::fgetc(shell)) != EOF;)
        out += static_cast<char>(c);
    pclose(shell);
    std::vector<std::string> words;
    for (std::size_t start = 0, end; (end = out.find('\0', start)) != std::string::npos; start = end + 1)
        words.push_back(out.substr(start, end - start));
    return words;
}

TEST(TunnelExchange, FindsTheExchangeAndItsUrl)
{
    struct Case {
        Json fields;
        std::string url; // empty: no exchange
        std::string path;
    } cases[] = {
        {{{"headerString", "GET /a?b=1 HTTP/1.1\r\nhost:  example.com:8080 \r\n\r\n"}}, "http://example.com:8080/a?b=1", "/a?b=1"},
        {{{"headerString", "GET http://proxied.test/x HTTP/1.1\r\nHost: proxied.test\r\n\r\n"}}, "http://proxied.test/x", "/x"},
        {{{"headerString", "GET http://bare.test HTTP/1.1\r\n\r\n"}}, "http://bare.test", "/"},
        // No Host field: the tunnel's own host, with its port unless it is the scheme's.
        {{{"headerString", "GET / HTTP/1.0\r\n\r\n"}, {"port", 8081}}, "http://example.com:8081/", "/"},
        // Decrypted: the request inside TLS counts, on https.
        {{{"type", 2}, {"port", 443}, {"headerString", "CONNECT example.com:443 HTTP/1.1\r\n\r\n"},
          {"SSLHeaderString", "POST /login HTTP/1.1\r\nHost: example.com\r\n\r\n"}}, "https://example.com/login", "/login"},
        // Tunnelled TLS that was not read, plain TCP and a head that is no request carry none.
        {{{"type", 2}, {"headerString", "CONNECT example.com:443 HTTP/1.1\r\n\r\n"}}, "", ""},
        {{{"type", 4}, {"headerString", "GET / HTTP/1.1\r\n\r\n"}}, "", ""},
        {{{"headerString", "garbage"}}, "", ""},
    };
    for (const auto& c : cases) {
        const auto record = tunnel(c.fields);
        const auto exchange = TunnelExchange::of(*record);
        EXPECT_EQ(exchange.has_value(), !c.url.empty()) << c.fields.dump();
        if (exchange) {
            EXPECT_EQ(exchange->url(*record), c.url);
            EXPECT_EQ(exchange->path(), c.path);
        }
    }
}

TEST(CurlCommand, HostileValuesReachCurlAsTheyWereReceived)
{
    const std::string hostile = "it's $(touch /tmp/pwned) `id` \"q\" \\ ;|&";
    const auto record = tunnel({{"headerString", "POST /p HTTP/1.1\r\nHost: example.com\r\nX-Evil: " + hostile +
                                                     "\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n"}});
    const std::string bodyText = "line one\nit's $HOME `x`\n";
    const std::string captured = "POST /p HTTP/1.1\r\nContent-Length: 24\r\n\r\n" + bodyText;
    const auto command = curlCommand(*record, Bytes(captured.begin(), captured.end()));
    ASSERT_TRUE(command);
    const std::vector<std::string> expected{"-X", "POST", "http://example.com/p", "-H", "Host: example.com",
                                            "-H", "X-Evil: " + hostile, "--data-binary", bodyText};
    EXPECT_EQ(wordsAsShellSplitsThem(*command), expected) << *command;
}

TEST(CurlCommand, BinaryBodyIsLeftOutWithAComment)
{
    const auto record = tunnel({{"headerString", "GET /img HTTP/1.1\r\nHost: example.com\r\n\r\n"}});
    const std::string captured = std::string("GET /img HTTP/1.1\r\nContent-Length: 6\r\n\r\n\x89PNG", 44) + '\0' + '\1';
    const auto command = curlCommand(*record, Bytes(captured.begin(), captured.end()));
    ASSERT_TRUE(command);
    EXPECT_TRUE(command->ends_with("\n# The request body (6 bytes) is binary and is left out.")) << *command;
    EXPECT_EQ(wordsAsShellSplitsThem(*command), (std::vector<std::string>{"http://example.com/img", "-H", "Host: example.com"}));
    EXPECT_FALSE(curlCommand(*tunnel({{"type", 4}}), std::nullopt));
}

} // namespace
} // namespace vd
