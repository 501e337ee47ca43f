#include "CurlCommand.h"

#include <simdjson.h>

#include "HttpHead.h"
#include "TunnelExchange.h"
#include "VDHTTPDataParser.h"

namespace vd {
namespace {

// curl works these out from the body it is given; the received ones would contradict it.
bool framingField(std::string_view name)
{
    const auto is = [&](std::string_view other) {
        return name.size() == other.size() && std::equal(name.begin(), name.end(), other.begin(), [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
               });
    };
    return is("content-length") || is("transfer-encoding");
}

// A shell word cannot hold a NUL byte, and a terminal should not be handed control bytes.
bool carriesAsText(const Bytes& body)
{
    for (const std::uint8_t byte : body) {
        if ((byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F)
            return false;
    }
    return simdjson::validate_utf8(reinterpret_cast<const char*>(body.data()), body.size());
}

Bytes bodyOf(const std::optional<Bytes>& capturedRequest)
{
    Bytes body;
    if (capturedRequest && !capturedRequest->empty())
        VDHTTPDataParser(0).parserData(*capturedRequest, [&](int, const Bytes& data) { body = data; });
    return body;
}

} // namespace

std::string shellQuoted(std::string_view text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted += '\'';
}

std::optional<std::string> curlCommand(const VDTunnelInfo& tunnel, const std::optional<Bytes>& capturedRequest)
{
    const auto exchange = TunnelExchange::of(tunnel);
    if (!exchange)
        return std::nullopt;
    const auto request = requestLineOf(exchange->requestHead);
    constexpr std::string_view kNextLine = " \\\n  ";
    std::string command = "curl";
    if (request->method != "GET")
        command.append(" -X ").append(shellQuoted(request->method));
    command.append(" ").append(shellQuoted(exchange->url(tunnel)));
    for (const auto& field : headerFields(exchange->requestHead)) {
        if (!framingField(field.name))
            command.append(kNextLine).append("-H ").append(shellQuoted(std::string(field.name) + ": " + std::string(field.value)));
    }
    if (const Bytes body = bodyOf(capturedRequest); !body.empty()) {
        if (carriesAsText(body)) {
            const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
            command.append(kNextLine).append("--data-binary ").append(shellQuoted(text));
        } else {
            command.append("\n# The request body (" + std::to_string(body.size()) +
                           " bytes) is binary and is left out.");
        }
    }
    return command;
}

} // namespace vd
