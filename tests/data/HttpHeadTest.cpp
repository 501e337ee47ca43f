#include <gtest/gtest.h>

#include "data/HttpHead.h"
#include "support/BytesOf.h"

namespace vd {
namespace {

using test::bytesOf;

TEST(HttpHead, TheHeaderBlockEndsAtTheFirstBlankLine)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\nbody\r\n\r\nmore", "HTTP/1.1 200 OK\r\nA: 1\r\n"},
        {"HTTP/1.1 200 OK\nA: 1\n\nbody", "HTTP/1.1 200 OK\nA: 1\n"},
        {"GET / HTTP/1.1\r\nHost: a\r\n", "GET / HTTP/1.1\r\nHost: a\r\n"},
        {"", ""},
        {"\r\n\r\nbody", ""},
    };
    for (const auto& [message, block] : cases)
        EXPECT_EQ(headerBlockOf(bytesOf(message)), block) << testing::PrintToString(std::string(message));
}

TEST(HttpHead, FieldValuesAreFoundWhateverTheCaseAndJoinedInOrder)
{
    const std::string_view block = "GET http://a:80/x HTTP/1.1\r\n"
                                   "Content-Encoding: gzip\r\n"
                                   "content-type:  application/json ; charset=utf-8 \r\n"
                                   "X-Long: first\r\n"
                                   " \t second\r\n"
                                   "CONTENT-ENCODING:br\r\n"
                                   "Content-Encoding-Extra: no\r\n"
                                   "Empty:\r\n"
                                   "Response Header: not a field\n";
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"content-encoding", "gzip, br"},
        {"Content-Type", "application/json ; charset=utf-8"},
        {"x-long", "first second"},
        {"Empty", ""},
        {"Absent", ""},
        {"GET http", ""},
        {"Response Header", ""},
    };
    for (const auto& [name, values] : cases)
        EXPECT_EQ(headerValues(block, name), values) << name;
}

// Fields come in order, up to the blank line, whatever ends each line; one without a colon is none.
TEST(HttpHead, FieldsAreReadInOrderUpToTheBlankLine)
{
    std::vector<std::string> read;
    for (const auto& [name, value] : headerFields("HTTP/1.1 200 OK\nContent-Type: text/html\r\nno colon here\r\nX-A:1\r\n\r\nB: no\r\n"))
        read.push_back(std::string(name) + "=" + std::string(value));
    EXPECT_EQ(read, (std::vector<std::string>{"Content-Type=text/html", "X-A=1"}));
}

} // namespace
} // namespace vd
