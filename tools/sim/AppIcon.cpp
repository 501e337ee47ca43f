#include "AppIcon.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "BinaryFormats.h"
#include "Destinations.h"

namespace vd::sim {

std::string appIconPng(std::string_view bundleId)
{
    // A rounded square in a colour of the application's own, with a light band across it.
    constexpr std::uint32_t kSize = 32;
    const auto hash = fnv1a(bundleId);
    const auto r = static_cast<std::uint8_t>(40 + hash % 180);
    const auto g = static_cast<std::uint8_t>(40 + (hash >> 8) % 180);
    const auto b = static_cast<std::uint8_t>(40 + (hash >> 16) % 180);
    std::vector<std::uint8_t> pixels;
    pixels.reserve(kSize * kSize * 4);
    for (std::uint32_t y = 0; y < kSize; ++y) {
        for (std::uint32_t x = 0; x < kSize; ++x) {
            const int dx = static_cast<int>(std::max({0u, 6u - std::min(x, 6u), x > 25 ? x - 25 : 0u}));
            const int dy = static_cast<int>(std::max({0u, 6u - std::min(y, 6u), y > 25 ? y - 25 : 0u}));
            const bool inside = dx * dx + dy * dy <= 36;
            const bool band = x + y >= 28 && x + y <= 34;
            pixels.push_back(band ? 255 : r);
            pixels.push_back(band ? 255 : g);
            pixels.push_back(band ? 255 : b);
            pixels.push_back(inside ? 255 : 0);
        }
    }
    const Bytes png = encodePng(kSize, kSize, pixels);
    return std::string(png.begin(), png.end());
}

} // namespace vd::sim
