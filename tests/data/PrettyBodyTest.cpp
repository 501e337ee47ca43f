#include <gtest/gtest.h>

#include "data/PrettyBody.h"
#include "support/BytesOf.h"

namespace vd {
namespace {

using test::bytesOf;

std::string withoutJsonSpace(std::string_view json)
{
    std::string out;
    bool inString = false;
    for (std::size_t i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (inString && c == '\\') {
            out += json.substr(i++, 2);
            continue;
        }
        inString = inString != (c == '"');
        if (inString || (c != ' ' && c != '\n' && c != '\r' && c != '\t'))
            out += c;
    }
    return out;
}

// Tokens come out exactly as they went in, however odd: numbers past double range or 64 bits,
// signed zeros and exponents, escapes; only the space between them changes.
TEST(PrettyJson, ReindentsWithoutChangingAnyToken)
{
    const std::string_view json = " {\"n\":[1e+05,-0.0,1E400,12345678901234567890123,-1.5E-7],\r\n"
                                  "\t\"s\":\"caf\\u00e9 \\/ \\\"q\\\" \\\\\",\"e\":{ },\"a\":[\n],\"k\":{\"t\":true,\"f\":false,\"z\":null}} ";
    const auto pretty = prettyJson(json);
    EXPECT_EQ(pretty.problem, "");
    EXPECT_EQ(pretty.text, "{\n"
                           "  \"n\": [\n"
                           "    1e+05,\n"
                           "    -0.0,\n"
                           "    1E400,\n"
                           "    12345678901234567890123,\n"
                           "    -1.5E-7\n"
                           "  ],\n"
                           "  \"s\": \"caf\\u00e9 \\/ \\\"q\\\" \\\\\",\n"
                           "  \"e\": {},\n"
                           "  \"a\": [],\n"
                           "  \"k\": {\n"
                           "    \"t\": true,\n"
                           "    \"f\": false,\n"
                           "    \"z\": null\n"
                           "  }\n"
                           "}");
    EXPECT_EQ(withoutJsonSpace(pretty.text), withoutJsonSpace(json));

    EXPECT_EQ(prettyJson(" 1E400 ").text, "1E400");
    EXPECT_EQ(prettyJson("\"a, b: [c]\"").text, "\"a, b: [c]\"");
}

// What does not parse falls back with a line saying so, also where a number simdjson cannot
// convert sends the check down its slower path.
TEST(PrettyJson, InvalidJsonGivesAProblemAndNoText)
{
    const std::string_view cases[] = {
        "", "   ", "{\"a\":1,}", "[00]", "[1.]", "[-]", "[.5]", "{\"a\"}", "[\"\\x\"]", "[\"tab\there\"]", "[1] [2]",
        "[tru]", "{\"a\":1", "\"\xff\"", "[1E400,\"\\x\"]", "[1E400,01]", "[1E400] x", "1E400 2", "[1E400,nul]",
    };
    for (const std::string_view json : cases) {
        const auto pretty = prettyJson(json);
        EXPECT_TRUE(pretty.problem.starts_with("Not valid JSON: ")) << testing::PrintToString(std::string(json)) << pretty.problem;
        EXPECT_EQ(pretty.text, "");
    }
}

TEST(PrettyKind, TheMediaTypeDecidesAndOtherwiseTheFirstBytes)
{
    struct Case {
        std::string_view contentType;
        std::string_view body;
        PrettyKind kind;
    };
    const Case cases[] = {
        {"application/json; charset=utf-8", "", PrettyKind::json},
        {"Application/Problem+JSON", "<x/>", PrettyKind::json},
        {"text/json", "", PrettyKind::json},
        {"application/x-www-form-urlencoded", "a=1", PrettyKind::form},
        {"text/xml", "", PrettyKind::xml},
        {"image/svg+xml", "", PrettyKind::xml},
        {"TEXT/HTML;charset=x", "{}", PrettyKind::html},
        {"text/plain", "\xef\xbb\xbf \n [1]", PrettyKind::json},
        {"", "{\"a\":1}", PrettyKind::json},
        {"application/octet-stream", "  <!DOCTYPE html><p>", PrettyKind::html},
        {"", "<HTML>", PrettyKind::html},
        {"", "<?xml version=\"1.0\"?><a/>", PrettyKind::xml},
        {"", "<feed/>", PrettyKind::xml},
        {"image/png", "\x89PNG", PrettyKind::none},
        {"", "plain words", PrettyKind::none},
        {"", "  ", PrettyKind::none},
    };
    for (const auto& [contentType, body, kind] : cases)
        EXPECT_EQ(prettyKindOf(contentType, bytesOf(body)), kind) << contentType << " / " << body;
}

TEST(FormFields, PairsArePercentDecodedAndMalformedEscapesKept)
{
    using Fields = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(formFields("name=Ana+Mar%C3%ADa&empty=&flag&&a%3Db=c%26d&bad=%zz%4&pct=100%25&bad2=%"),
              (Fields{{"name", "Ana Mar\xc3\xad" "a"}, {"empty", ""}, {"flag", ""}, {"a=b", "c&d"}, {"bad", "%zz%4"},
                      {"pct", "100%"}, {"bad2", "%"}}));
    EXPECT_EQ(formFields(""), Fields{});
    EXPECT_EQ(formFields("x=%00y"), (Fields{{"x", std::string("\0y", 2)}}));
}

TEST(PrettyMarkup, HtmlIsIndentedTolerantlyAndKeepsRawTextAndEntities)
{
    const std::string_view html = "<!DOCTYPE html><html><head><meta charset=utf-8><title>A &copy; B</title>"
                                  "<script>if (a < b && c > d) { x = \"</div>\"; }</script></head>\n"
                                  "<body class=main><!-- note --><ul><li>one<li>two &amp;   three</ul>"
                                  "<p>line<br>next<img src='a>b.png'/></p></body></html>";
    const auto pretty = prettyHtml(html);
    EXPECT_EQ(pretty.problem, "");
    EXPECT_EQ(pretty.text, "<!DOCTYPE html>\n"
                           "<html>\n"
                           "  <head>\n"
                           "    <meta charset=utf-8>\n"
                           "    <title>\n"
                           "      A &copy; B\n"
                           "    </title>\n"
                           "    <script>\n"
                           "if (a < b && c > d) { x = \"</div>\"; }\n"
                           "    </script>\n"
                           "  </head>\n"
                           "  <body class=main>\n"
                           "    <!-- note -->\n"
                           "    <ul>\n"
                           "      <li>\n"
                           "        one\n"
                           "      <li>\n"
                           "        two &amp; three\n"
                           "    </ul>\n"
                           "    <p>\n"
                           "      line\n"
                           "      <br>\n"
                           "      next\n"
                           "      <img src='a>b.png'/>\n"
                           "    </p>\n"
                           "  </body>\n"
                           "</html>");
    EXPECT_EQ(prettyHtml("just words, a < b").problem, "No HTML markup in the body");
}

TEST(PrettyMarkup, XmlIsIndentedAndBrokenXmlSaysWhere)
{
    const auto pretty = prettyXml("<?xml version=\"1.0\"?>\n<a x=\"1\"><b>t &amp; u</b>  <c/></a>");
    EXPECT_EQ(pretty.problem, "");
    EXPECT_EQ(pretty.text, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a x=\"1\">\n  <b>t &amp; u</b>\n  <c/>\n</a>\n");
    EXPECT_EQ(prettyXml("<a><b/></a>").text, "<a>\n  <b/>\n</a>\n");
    EXPECT_EQ(prettyXml("<a>\n<b></a>").problem, "Not valid XML: Opening and ending tag mismatch. (line 2)");
    EXPECT_FALSE(prettyXml("<br><meta charset=utf-8>").problem.empty());
}

} // namespace
} // namespace vd
