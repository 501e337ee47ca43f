#include "ContentDecoding.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "CodingStreams.h"

namespace vd {
namespace {

struct Coding {
    std::string_view token;
    // As the user reads it in a problem line.
    std::string_view title;
    StreamEnd (*decode)(std::span<const std::uint8_t>, CappedOutput&);
};

constexpr std::array kCodings{
    Coding{"gzip", "gzip", &gunzipStream},
    Coding{"x-gzip", "gzip", &gunzipStream},
    Coding{"deflate", "deflate", &inflateStream},
    Coding{"br", "Brotli", &brotliStream},
    Coding{"zstd", "Zstandard", &zstdStream},
};

// What the usual ratios of text make likely, so the output buffer seldom regrows.
constexpr std::size_t kExpectedRatio = 4;
// A coding name is shown to the user, but it comes from the network.
constexpr std::size_t kLongestShownName = 40;

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string lowered(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The list members in the order they were applied; empty members are allowed by list syntax.
std::vector<std::string> codingsOf(std::string_view value)
{
    std::vector<std::string> names;
    while (!value.empty()) {
        const std::size_t comma = std::min(value.find(','), value.size());
        std::string_view member = value.substr(0, comma);
        value.remove_prefix(std::min(comma + 1, value.size()));
        while (!member.empty() && isSpace(member.front()))
            member.remove_prefix(1);
        while (!member.empty() && isSpace(member.back()))
            member.remove_suffix(1);
        if (!member.empty())
            names.push_back(lowered(member));
    }
    return names;
}

std::string printable(std::string_view name)
{
    std::string out;
    for (const char c : name.substr(0, kLongestShownName))
        out += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (name.size() > kLongestShownName)
        out += "...";
    return out;
}

std::string sizeText(std::size_t bytes)
{
    constexpr std::size_t kKiB = 1024;
    constexpr std::size_t kMiB = kKiB * kKiB;
    if (bytes >= kMiB && bytes % kMiB == 0)
        return std::to_string(bytes / kMiB) + " MiB";
    if (bytes >= kKiB && bytes % kKiB == 0)
        return std::to_string(bytes / kKiB) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string problemOf(const StreamEnd& end, std::string_view title, std::size_t cap)
{
    switch (end.kind) {
    case StreamEnd::Kind::capped:
        return "Stopped at " + sizeText(cap) + ": the decoded body is larger";
    case StreamEnd::Kind::cutShort:
        return "The " + std::string(title) + " data is cut short";
    case StreamEnd::Kind::damaged:
        return "The " + std::string(title) + " data is damaged" + (end.detail.empty() ? "" : " (" + end.detail + ")");
    case StreamEnd::Kind::complete:
        break;
    }
    return {};
}

} // namespace

DecodedContent decodeContent(std::span<const std::uint8_t> body, std::string_view contentEncoding, std::size_t cap)
{
    DecodedContent result;
    const auto names = codingsOf(contentEncoding);
    Bytes stage;
    std::span<const std::uint8_t> input = body;
    // A later step still runs on what an earlier one got to, so what is shown after a cap or a
    // cut is in its final form, as far as it goes.
    for (auto name = names.rbegin(); name != names.rend() && !input.empty(); ++name) {
        if (*name == "identity")
            continue;
        const auto coding = std::find_if(kCodings.begin(), kCodings.end(), [&](const Coding& c) { return c.token == *name; });
        if (coding == kCodings.end()) {
            result.outcome = DecodedContent::Outcome::failed;
            result.problem = "Unknown content coding \"" + printable(*name) + "\"";
            break;
        }
        CappedOutput out(cap, std::min(cap / kExpectedRatio, input.size()) * kExpectedRatio);
        const StreamEnd end = coding->decode(input, out);
        if (end.kind != StreamEnd::Kind::complete && result.outcome == DecodedContent::Outcome::decoded) {
            result.outcome = end.kind == StreamEnd::Kind::capped ? DecodedContent::Outcome::capped : DecodedContent::Outcome::failed;
            result.problem = problemOf(end, coding->title, cap);
        }
        stage = out.take();
        input = stage;
    }
    result.bytes = input.data() == body.data() ? Bytes(body.begin(), body.end()) : std::move(stage);
    return result;
}

} // namespace vd
