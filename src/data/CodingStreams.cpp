#include "CodingStreams.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

namespace vd {
namespace {

using Kind = StreamEnd::Kind;

constexpr int kGzipWindow = 16 + MAX_WBITS;
// No deflate stream expands more than this, so a gzip trailer claiming more is lying.
constexpr std::size_t kDeflateMostRatio = 1032;
constexpr int kZlibWindow = MAX_WBITS;
constexpr int kRawWindow = -MAX_WBITS;
// HTTP's zstd coding lets a decoder refuse windows above 8 MiB, which keeps a hostile frame
// from making the decoder itself allocate 128 MiB or more beside the output.
constexpr int kZstdWindowLogMax = 23;

bool startsGzipMember(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 2 && bytes[0] == 0x1f && bytes[1] == 0x8b;
}

// RFC 1950: method 8 with a window of at most 32 KiB, and the two bytes a multiple of 31.
bool startsZlibHeader(std::span<const std::uint8_t> bytes)
{
    return bytes.size() >= 2 && (bytes[0] & 0x0f) == 8 && (bytes[0] >> 4) <= 7 && ((bytes[0] << 8) | bytes[1]) % 31 == 0;
}

StreamEnd zlibStream(std::span<const std::uint8_t> coded, CappedOutput& out, int windowBits)
{
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return {Kind::damaged, "out of memory"};
    const std::unique_ptr<z_stream, int (*)(z_stream*)> release(&stream, &inflateEnd);

    std::span<const std::uint8_t> left = coded;
    for (;;) {
        // zlib counts input in 32 bits; a larger body is handed over in slices.
        if (stream.avail_in == 0 && !left.empty()) {
            const std::size_t slice = std::min<std::size_t>(left.size(), UINT_MAX);
            stream.next_in = const_cast<Bytef*>(left.data());
            stream.avail_in = static_cast<uInt>(slice);
            left = left.subspan(slice);
        }
        const auto room = out.room();
        const auto offered = static_cast<uInt>(std::min<std::size_t>(room.size(), UINT_MAX));
        stream.next_out = room.data();
        stream.avail_out = offered;
        const int status = inflate(&stream, Z_NO_FLUSH);
        out.commit(offered - stream.avail_out);
        if (out.overflowed())
            return {Kind::capped, {}};

        switch (status) {
        case Z_OK:
            continue;
        case Z_STREAM_END: {
            const auto rest = stream.avail_in > 0 ? std::span<const std::uint8_t>(stream.next_in, stream.avail_in) : left;
            if (windowBits != kGzipWindow || !startsGzipMember(rest))
                return {};
            inflateReset(&stream);
            continue;
        }
        case Z_BUF_ERROR:
            // No progress is possible with room to write, so the input ran out mid-stream.
            return {Kind::cutShort, {}};
        default:
            return {Kind::damaged, stream.msg ? stream.msg : ""};
        }
    }
}

} // namespace

StreamEnd gunzipStream(std::span<const std::uint8_t> coded, CappedOutput& out)
{
    // The trailer's last four bytes hold the plain size (modulo 4 GiB): sizing the output by it
    // saves regrowing and copying a large body.
    if (coded.size() >= 18) {
        const auto trailer = coded.last(4);
        const std::size_t claimed = trailer[0] | trailer[1] << 8 | trailer[2] << 16 | std::size_t{trailer[3]} << 24;
        out.expect(std::min(claimed, coded.size() * kDeflateMostRatio));
    }
    return zlibStream(coded, out, kGzipWindow);
}

StreamEnd inflateStream(std::span<const std::uint8_t> coded, CappedOutput& out)
{
    if (startsZlibHeader(coded)) {
        StreamEnd end = zlibStream(coded, out, kZlibWindow);
        // A raw stream can begin with two bytes that pass for a zlib header by chance; then the
        // zlib reading fails before it produces anything.
        if (end.kind != Kind::damaged || out.size() > 0)
            return end;
        out.clear();
    }
    return zlibStream(coded, out, kRawWindow);
}

StreamEnd brotliStream(std::span<const std::uint8_t> coded, CappedOutput& out)
{
    const std::unique_ptr<BrotliDecoderState, void (*)(BrotliDecoderState*)> decoder(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), &BrotliDecoderDestroyInstance);
    if (!decoder)
        return {Kind::damaged, "out of memory"};

    std::size_t availableIn = coded.size();
    const std::uint8_t* nextIn = coded.data();
    for (;;) {
        const auto room = out.room();
        std::size_t availableOut = room.size();
        std::uint8_t* nextOut = room.data();
        const auto result = BrotliDecoderDecompressStream(decoder.get(), &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
        out.commit(room.size() - availableOut);
        if (out.overflowed())
            return {Kind::capped, {}};

        switch (result) {
        case BROTLI_DECODER_RESULT_SUCCESS:
            return {};
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
            continue;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
            return {Kind::cutShort, {}};
        default:
            // The library's error names are codes, not words for a user.
            return {Kind::damaged, {}};
        }
    }
}

StreamEnd zstdStream(std::span<const std::uint8_t> coded, CappedOutput& out)
{
    const std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)> decoder(ZSTD_createDCtx(), &ZSTD_freeDCtx);
    if (!decoder)
        return {Kind::damaged, "out of memory"};
    ZSTD_DCtx_setParameter(decoder.get(), ZSTD_d_windowLogMax, kZstdWindowLogMax);

    ZSTD_inBuffer input{coded.data(), coded.size(), 0};
    for (;;) {
        const auto room = out.room();
        ZSTD_outBuffer output{room.data(), room.size(), 0};
        const std::size_t hint = ZSTD_decompressStream(decoder.get(), &output, &input);
        out.commit(output.pos);
        if (out.overflowed())
            return {Kind::capped, {}};
        if (ZSTD_isError(hint))
            return {Kind::damaged, ZSTD_getErrorName(hint)};

        const bool inputUsedUp = input.pos == input.size;
        // 0: a frame ended exactly here; the next one, if any, starts in the rest of the input.
        if (hint == 0 && inputUsedUp)
            return {};
        // With room left over and nothing more to read, the decoder is waiting for input that
        // will never come.
        if (hint != 0 && inputUsedUp && output.pos < output.size)
            return {Kind::cutShort, {}};
    }
}

} // namespace vd
