#include "HarBody.h"

#include <simdjson.h>

#include "data/ContentDecoding.h"
#include "data/VDHTTPDataParser.h"

namespace vd::har {
MessageBody messageBodyOf(std::span<const std::uint8_t> captured, bool response, std::string_view contentEncoding,
                          std::size_t cap)
{
    MessageBody body;
    if (captured.empty())
        return body;
    const auto parser = VDHTTPDataParser::initWithType(response ? 1 : 0);
    bool complete = false;
    parser->parserData(captured, [&](int, const Bytes&) { complete = true; });
    if (!complete)
        return body;
    body.wire = parser->takeData();
    if (contentEncoding.empty())
        return body;
    DecodedContent decoded = decodeContent(body.wire, contentEncoding, cap);
    body.problem = std::move(decoded.problem);
    if (decoded.outcome == DecodedContent::Outcome::decoded) {
        body.decoded = std::move(decoded.bytes);
        body.showsDecoded = true;
    }
    return body;
}

void writeText(JsonWriter& json, std::span<const std::uint8_t> bytes)
{
    const auto* text = reinterpret_cast<const char*>(bytes.data());
    if (simdjson::validate_utf8(text, bytes.size())) {
        json.member("text", std::string_view(text, bytes.size()));
        return;
    }
    json.key("text");
    json.base64(bytes);
    json.member("encoding", "base64");
}

} // namespace vd::har
