#include "BinaryFormats.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vd::sim {
namespace {

constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// A stored block holds at most this many bytes (its length field has 16 bits).
constexpr std::size_t kStoredBlockLimit = 65535;

void putBigEndian32(Bytes& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putLittleEndian32(Bytes& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendStoredDeflate(Bytes& out, std::span<const std::uint8_t> data)
{
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kStoredBlockLimit, data.size() - offset);
        const bool last = offset + length == data.size();
        out.push_back(last ? 0x01 : 0x00); // BFINAL, BTYPE 00; the rest of the byte pads to the boundary
        const auto len = static_cast<std::uint16_t>(length);
        const auto nlen = static_cast<std::uint16_t>(~len);
        out.insert(out.end(), {static_cast<std::uint8_t>(len), static_cast<std::uint8_t>(len >> 8),
                               static_cast<std::uint8_t>(nlen), static_cast<std::uint8_t>(nlen >> 8)});
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < data.size());
}

void appendChunk(Bytes& out, std::string_view type, std::span<const std::uint8_t> data)
{
    putBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian32(out, crc32(std::span(out).subspan(typeAt)));
}

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc)
{
    crc = ~crc;
    for (const auto byte : bytes)
        crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes)
{
    constexpr std::uint32_t kModulus = 65521;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (const auto byte : bytes) {
        a = (a + byte) % kModulus;
        b = (b + a) % kModulus;
    }
    return (b << 16) | a;
}

Bytes encodePng(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rgba)
{
    const std::size_t rowBytes = std::size_t(width) * 4;
    // Each row starts with its filter type; 0 leaves the pixels as they are.
    Bytes raw;
    raw.reserve((rowBytes + 1) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto row = rgba.subspan(y * rowBytes, rowBytes);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    Bytes zlib{0x78, 0x01}; // deflate, 32 KiB window, no dictionary; 0x7801 is a multiple of 31
    appendStoredDeflate(zlib, raw);
    putBigEndian32(zlib, adler32(raw));

    Bytes header;
    putBigEndian32(header, width);
    putBigEndian32(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, deflate, no filter set, no interlace

    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", zlib);
    appendChunk(png, "IEND", {});
    return png;
}

Bytes encodeGzip(std::span<const std::uint8_t> data)
{
    Bytes out{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3}; // deflate, no flags, no time, Unix
    appendStoredDeflate(out, data);
    putLittleEndian32(out, crc32(data));
    putLittleEndian32(out, static_cast<std::uint32_t>(data.size()));
    return out;
}

} // namespace vd::sim
