#include "HarWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

#include "HarBody.h"
#include "HarParts.h"
#include "HarTimings.h"
#include "data/HttpHead.h"
#include "data/PrettyBody.h"
#include "data/TunnelExchange.h"
#include "data/VDTunnelInfo.h"

namespace vd::har {
namespace {

// "2026-03-01T12:34:56.789Z": UTC, so the same record reads the same wherever it is exported.
std::string isoDateTime(double secondsSince1970)
{
    const auto milliseconds = static_cast<long long>(std::floor(secondsSince1970 * 1000));
    const long long seconds = milliseconds >= 0 ? milliseconds / 1000 : (milliseconds - 999) / 1000;
    const auto asTime = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&asTime, &utc);
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03lldZ", utc.tm_year + 1900,
                                     utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, milliseconds - seconds * 1000);
    return std::string(text.data(), static_cast<std::size_t>(std::max(length, 0)));
}

void writeHeaders(JsonWriter& json, const std::vector<HeaderField>& fields)
{
    json.key("headers");
    json.beginArray();
    for (const auto& field : fields) {
        json.beginObject();
        json.member("name", field.name);
        json.member("value", field.value);
        json.endObject();
    }
    json.endArray();
}

void writePairs(JsonWriter& json, std::string_view name, const std::vector<NameValue>& pairs)
{
    json.key(name);
    json.beginArray();
    for (const auto& pair : pairs) {
        json.beginObject();
        json.member("name", pair.first);
        json.member("value", pair.second);
        json.endObject();
    }
    json.endArray();
}

void writeSetCookies(JsonWriter& json, const std::vector<SetCookie>& cookies)
{
    json.key("cookies");
    json.beginArray();
    for (const auto& cookie : cookies) {
        json.beginObject();
        json.member("name", cookie.name);
        json.member("value", cookie.value);
        if (cookie.path)
            json.member("path", *cookie.path);
        if (cookie.domain)
            json.member("domain", *cookie.domain);
        json.member("httpOnly", cookie.httpOnly);
        json.member("secure", cookie.secure);
        json.endObject();
    }
    json.endArray();
}

std::int64_t headersSizeOf(std::string_view head)
{
    return head.empty() ? -1 : static_cast<std::int64_t>(head.size());
}

bool isFormType(std::string_view mimeType)
{
    return prettyKindOf(mimeType, {}) == PrettyKind::form;
}

void writeRequest(JsonWriter& json, const VDTunnelInfo& tunnel, const TunnelExchange& exchange,
                  std::span<const std::uint8_t> captured)
{
    const std::string_view head = exchange.requestHead;
    const auto line = requestLineOf(head).value_or(RequestLine{});
    const auto fields = headerFields(head);
    const std::string url = exchange.url(tunnel);
    json.key("request");
    json.beginObject();
    json.member("method", line.method);
    json.member("url", url);
    json.member("httpVersion", line.version);
    writePairs(json, "cookies", requestCookies(fields));
    writeHeaders(json, fields);
    writePairs(json, "queryString", queryPairs(url));
    json.member("headersSize", headersSizeOf(head));
    const MessageBody body = messageBodyOf(captured, false, headerValues(head, "Content-Encoding"));
    json.member("bodySize", static_cast<std::int64_t>(body.wire.size()));
    if (!body.wire.empty()) {
        const std::string mimeType = headerValues(head, "Content-Type");
        const auto content = body.content();
        json.key("postData");
        json.beginObject();
        json.member("mimeType", mimeType);
        if (isFormType(mimeType) && body.problem.empty())
            writePairs(json, "params", formFields(std::string_view(reinterpret_cast<const char*>(content.data()), content.size())));
        writeText(json, content);
        if (!body.problem.empty())
            json.member("comment", body.problem);
        json.endObject();
    }
    json.endObject();
}

// Without a response head (the tunnel ended first) the status is the record's own code, if any,
// else 0, and the sizes are -1: unknown.
void writeResponse(JsonWriter& json, const VDTunnelInfo& tunnel, const TunnelExchange& exchange,
                   std::span<const std::uint8_t> captured)
{
    const std::string_view head = exchange.responseHead;
    const bool answered = !head.empty();
    const StatusLine status = answered ? statusLineOf(head) : StatusLine{};
    const auto fields = headerFields(head);
    json.key("response");
    json.beginObject();
    json.member("status", answered ? status.code : std::max<std::int64_t>(tunnel.code(), 0));
    json.member("statusText", status.reason);
    json.member("httpVersion", status.version);
    writeSetCookies(json, responseCookies(fields));
    writeHeaders(json, fields);
    json.member("redirectURL", headerValues(head, "Location"));
    json.member("headersSize", headersSizeOf(head));
    const MessageBody body = messageBodyOf(captured, true, headerValues(head, "Content-Encoding"));
    json.member("bodySize", answered ? static_cast<std::int64_t>(body.wire.size()) : std::int64_t{-1});
    json.key("content");
    json.beginObject();
    const auto content = body.content();
    json.member("size", static_cast<std::int64_t>(content.size()));
    json.member("mimeType", headerValues(head, "Content-Type"));
    if (!content.empty())
        writeText(json, content);
    if (!body.problem.empty())
        json.member("comment", body.problem);
    json.endObject();
    json.endObject();
}

void writeTimings(JsonWriter& json, const HarTimings& timings)
{
    json.key("timings");
    json.beginObject();
    json.member("blocked", timings.blocked);
    json.member("dns", timings.dns);
    json.member("connect", timings.connect);
    json.member("ssl", timings.ssl);
    json.member("send", timings.send);
    json.member("wait", timings.wait);
    json.member("receive", timings.receive);
    json.endObject();
}

} // namespace

HarWriter::HarWriter(std::ostream& out, const HarCreator& creator) : json_(out)
{
    json_.beginObject();
    json_.key("log");
    json_.beginObject();
    json_.member("version", "1.2");
    json_.key("creator");
    json_.beginObject();
    json_.member("name", creator.name);
    json_.member("version", creator.version);
    json_.endObject();
    json_.key("entries");
    json_.beginArray();
}

bool HarWriter::carriesHttp(const VDTunnelInfo& tunnel)
{
    return TunnelExchange::of(tunnel).has_value();
}

bool HarWriter::wantsRequestMessage(const VDTunnelInfo& tunnel)
{
    return tunnel.hasSend() && carriesHttp(tunnel);
}

bool HarWriter::wantsResponseMessage(const VDTunnelInfo& tunnel)
{
    return tunnel.hasReceive() && carriesHttp(tunnel);
}

void HarWriter::add(const VDTunnelInfo& tunnel, CapturedMessages captured)
{
    const auto exchange = TunnelExchange::of(tunnel);
    if (!exchange) {
        ++leftOut_;
        return;
    }
    const HarTimings timings = harTimingsOf(tunnel);
    json_.lineBreak();
    json_.beginObject();
    json_.member("startedDateTime", isoDateTime(tunnel.startTime()));
    json_.member("time", timings.total());
    writeRequest(json_, tunnel, *exchange, captured.request);
    writeResponse(json_, tunnel, *exchange, captured.response);
    json_.key("cache");
    json_.beginObject();
    json_.endObject();
    writeTimings(json_, timings);
    json_.member("serverIPAddress", tunnel.toHost());
    json_.member("connection", std::to_string(tunnel.id_()));
    json_.endObject();
    ++written_;
}

void HarWriter::finish()
{
    json_.lineBreak();
    json_.endArray();
    json_.endObject();
    json_.endObject();
    json_.lineBreak();
}

} // namespace vd::har
