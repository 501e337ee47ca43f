#include "HttpMessages.h"

#include <array>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "BinaryFormats.h"
#include "TrafficGenerator.h"

namespace vd::sim {
namespace {

constexpr std::array<const char*, 16> kWords{"alpha", "harbor", "maple", "quartz", "delta", "lumen", "orbit", "cedar",
                                             "nova", "pixel", "ember", "tundra", "violet", "willow", "zephyr", "kite"};

std::string word(TrafficGenerator& random) { return kWords[random.next() % kWords.size()]; }

std::string timestamp(TrafficGenerator& random)
{
    char text[32];
    std::snprintf(text, sizeof text, "2024-04-%02dT%02d:%02d:%02dZ", static_cast<int>(random.between(1, 25)),
                  static_cast<int>(random.between(0, 23)), static_cast<int>(random.between(0, 59)),
                  static_cast<int>(random.between(0, 59)));
    return text;
}

std::string jsonDocument(TrafficGenerator& random)
{
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    const auto count = random.between(2, 24);
    for (std::int64_t i = 0; i < count; ++i) {
        const std::string name = word(random) + "-" + word(random);
        items.push_back({{"id", random.between(1000, 9999999)},
                         {"name", name},
                         {"slug", name + "-" + random.hex(6)},
                         {"updated_at", timestamp(random)},
                         {"size", random.between(0, 500000)},
                         {"tags", {word(random), word(random)}},
                         {"public", random.chance(70)},
                         {"owner", {{"login", word(random) + std::to_string(random.between(1, 99))}, {"verified", random.chance(50)}}}});
    }
    nlohmann::ordered_json document{{"page", random.between(1, 40)},
                                    {"per_page", count},
                                    {"total", random.between(count, 5000)},
                                    {"items", std::move(items)}};
    return document.dump();
}

std::string htmlDocument(TrafficGenerator& random)
{
    const std::string title = word(random) + " " + word(random);
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
                       "</title>\n<link rel=\"stylesheet\" href=\"/static/app." + random.hex(8) +
                       ".css\">\n</head>\n<body>\n<header><h1>" + title + "</h1></header>\n<main>\n";
    const auto paragraphs = random.between(2, 12);
    for (std::int64_t p = 0; p < paragraphs; ++p) {
        html += "<p>";
        const auto words = random.between(12, 60);
        for (std::int64_t w = 0; w < words; ++w) {
            if (w)
                html += ' ';
            html += word(random);
        }
        html += ".</p>\n";
    }
    html += "<ul>\n";
    for (std::int64_t i = random.between(2, 6); i > 0; --i)
        html += "  <li><a href=\"/" + word(random) + "/" + std::to_string(random.between(1, 999)) + "\">" + word(random) + "</a></li>\n";
    html += "</ul>\n</main>\n<footer>&copy; 2024 Example</footer>\n</body>\n</html>\n";
    return html;
}

std::string pngImage(TrafficGenerator& random)
{
    const auto width = static_cast<std::uint32_t>(random.between(16, 64));
    const auto height = static_cast<std::uint32_t>(random.between(16, 48));
    const auto r = static_cast<int>(random.between(0, 255));
    const auto g = static_cast<int>(random.between(0, 255));
    const auto b = static_cast<int>(random.between(0, 255));
    std::vector<std::uint8_t> pixels(std::size_t(width) * height * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            auto* pixel = &pixels[(std::size_t(y) * width + x) * 4];
            pixel[0] = static_cast<std::uint8_t>((r + int(x * 255 / width)) / 2);
            pixel[1] = static_cast<std::uint8_t>((g + int(y * 255 / height)) / 2);
            pixel[2] = static_cast<std::uint8_t>(b);
            pixel[3] = 255;
        }
    }
    const Bytes png = encodePng(width, height, pixels);
    return {png.begin(), png.end()};
}

std::string chunkedEvents(TrafficGenerator& random)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string body;
    const auto chunks = random.between(2, 8);
    std::int64_t sequence = random.between(1, 100000);
    for (std::int64_t c = 0; c < chunks; ++c) {
        std::string chunk;
        for (std::int64_t line = random.between(1, 3); line > 0; --line) {
            chunk += nlohmann::ordered_json{{"event", word(random)}, {"seq", sequence++}, {"value", random.between(0, 100000)}}.dump();
            chunk += '\n';
        }
        std::string size;
        for (auto n = chunk.size(); n; n >>= 4)
            size.insert(size.begin(), kHex[n & 0xF]);
        body += size + "\r\n" + chunk + "\r\n";
    }
    return body + "0\r\n\r\n";
}

std::string form(TrafficGenerator& random)
{
    return "grant_type=refresh_token&client_id=" + random.hex(16) + "&refresh_token=" + random.token(40) +
           "&scope=read%20write&device=" + word(random);
}

} // namespace

std::string makeBody(BodyKind kind, std::uint64_t seed)
{
    TrafficGenerator random(seed);
    switch (kind) {
    case BodyKind::None: return {};
    case BodyKind::Json: return jsonDocument(random);
    case BodyKind::Html: return htmlDocument(random);
    case BodyKind::Png: return pngImage(random);
    case BodyKind::Gzip: {
        const std::string json = jsonDocument(random);
        const Bytes packed = encodeGzip({reinterpret_cast<const std::uint8_t*>(json.data()), json.size()});
        return {packed.begin(), packed.end()};
    }
    case BodyKind::Chunked: return chunkedEvents(random);
    case BodyKind::Form: return form(random);
    }
    return {};
}

std::string bodyHeaderLines(BodyKind kind, std::size_t length)
{
    const std::string contentLength = "Content-Length: " + std::to_string(length) + "\r\n";
    switch (kind) {
    case BodyKind::None: return {};
    case BodyKind::Json: return "Content-Type: application/json; charset=utf-8\r\n" + contentLength;
    case BodyKind::Html: return "Content-Type: text/html; charset=utf-8\r\n" + contentLength;
    case BodyKind::Png: return "Content-Type: image/png\r\n" + contentLength;
    case BodyKind::Gzip: return "Content-Type: application/json; charset=utf-8\r\nContent-Encoding: gzip\r\n" + contentLength;
    case BodyKind::Chunked: return "Content-Type: application/x-ndjson\r\nTransfer-Encoding: chunked\r\n";
    case BodyKind::Form: return "Content-Type: application/x-www-form-urlencoded\r\n" + contentLength;
    }
    return {};
}

} // namespace vd::sim
