#include "CapturedBody.h"

#include <optional>

#include "HttpHead.h"
#include "VDHTTPDataParser.h"

namespace vd {

DecodedContent decodedBodyOf(std::span<const std::uint8_t> capturedMessage, bool request, std::size_t cap)
{
    const std::string_view head = headerBlockOf(capturedMessage);
    std::optional<Bytes> body;
    VDHTTPDataParser parser(request ? 0 : 1);
    parser.parserData(capturedMessage, [&body](int status, const Bytes& data) {
        if (status == VDHTTPDataParser::kStatusComplete)
            body = data;
    });
    if (!body) {
        // The parser is silent both for a message without a body and for one it cannot cut;
        // only the first has nothing after its head and blank line.
        const std::size_t blankLine = capturedMessage.size() > head.size() && capturedMessage[head.size()] == '\r' ? 2 : 1;
        if (head.size() + blankLine >= capturedMessage.size())
            return {};
        return {DecodedContent::Outcome::failed, {}, "The HTTP message is cut short or its body framing is broken"};
    }
    return decodeContent(*body, headerValues(head, "Content-Encoding"), cap);
}

} // namespace vd
