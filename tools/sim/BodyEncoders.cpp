#include "BodyEncoders.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

namespace vd::sim {
namespace {

constexpr int kGzipWindow = 16 + MAX_WBITS;
constexpr int kMemoryLevel = 8;
constexpr std::size_t kSlice = 1 << 20;

// Feeds slices from `next` until it gives an empty one; every slice is deflated into `out`.
template <typename NextSlice>
Bytes deflated(int windowBits, int level, NextSlice next)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, windowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    Bytes out;
    std::uint8_t buffer[64 * 1024];
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const std::span<const std::uint8_t> slice = next();
        flush = slice.empty() ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = const_cast<Bytef*>(slice.data());
        stream.avail_in = static_cast<uInt>(slice.size());
        do {
            stream.next_out = buffer;
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

Bytes deflatedWhole(std::span<const std::uint8_t> body, int windowBits, int level)
{
    return deflated(windowBits, level, [body]() mutable {
        const std::span<const std::uint8_t> slice = body.first(std::min(body.size(), kSlice));
        body = body.subspan(slice.size());
        return slice;
    });
}

} // namespace

Bytes gzipOf(std::span<const std::uint8_t> body, int level)
{
    return deflatedWhole(body, kGzipWindow, level);
}

Bytes zlibOf(std::span<const std::uint8_t> body)
{
    return deflatedWhole(body, MAX_WBITS, Z_DEFAULT_COMPRESSION);
}

Bytes rawDeflateOf(std::span<const std::uint8_t> body)
{
    return deflatedWhole(body, -MAX_WBITS, Z_DEFAULT_COMPRESSION);
}

Bytes brotliOf(std::span<const std::uint8_t> body)
{
    std::size_t size = BrotliEncoderMaxCompressedSize(body.size());
    Bytes out(size);
    if (!BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, body.size(), body.data(),
                               &size, out.data()))
        throw std::runtime_error("BrotliEncoderCompress failed");
    out.resize(size);
    return out;
}

Bytes zstdOf(std::span<const std::uint8_t> body)
{
    Bytes out(ZSTD_compressBound(body.size()));
    const std::size_t size = ZSTD_compress(out.data(), out.size(), body.data(), body.size(), ZSTD_CLEVEL_DEFAULT);
    if (ZSTD_isError(size))
        throw std::runtime_error(ZSTD_getErrorName(size));
    out.resize(size);
    return out;
}

Bytes gzippedZeros(std::size_t size)
{
    const std::vector<std::uint8_t> zeros(std::min(size, kSlice));
    return deflated(kGzipWindow, Z_BEST_COMPRESSION, [&size, &zeros]() {
        const std::size_t slice = std::min(size, zeros.size());
        size -= slice;
        return std::span<const std::uint8_t>(zeros.data(), slice);
    });
}

} // namespace vd::sim
