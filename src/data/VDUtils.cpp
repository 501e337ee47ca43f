#include "VDUtils.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <system_error>


#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "QNIPAddress.h"
#include "platform/Base64.h"
#include "platform/MainQueue.h"
#include "platform/Numbers.h"
#include "platform/UserPaths.h"

namespace vd {
namespace {

// printf into a string of exactly the needed length. Only for integers, which print alike in
// every locale: reals go through numbers::fixed.
[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...)
{
    std::va_list args;
    va_start(args, pattern);
    std::va_list again;
    va_copy(again, args);
    char small[64];
    const int length = std::vsnprintf(small, sizeof small, pattern, args);
    va_end(args);
    std::string out;
    if (length > 0 && static_cast<std::size_t>(length) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(length));
    } else if (length > 0) {
        out.resize(static_cast<std::size_t>(length));
        std::vsnprintf(out.data(), out.size() + 1, pattern, again);
    }
    va_end(again);
    return out;
}

// Each thread draws from its own engine, so test data can be made from any queue without a lock.
std::mt19937& generator()
{
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
}

// ---------------------------------------------------------------------------------------------
// Dates

// The C library reads the time zone once, the first time a date is shown, and keeps it for the
// life of the process; a test that switches zones calls tzset() itself.
std::optional<std::tm> localTime(double secondsSince1970)
{
    if (!std::isfinite(secondsSince1970))
        return std::nullopt;
    // Whole seconds towards the past, so 59.9 s after a full minute still shows that minute.
    const double whole = std::floor(secondsSince1970);
    constexpr double kLimit = 9.2e18; // inside time_t's range, far beyond any real date
    if (whole <= -kLimit || whole >= kLimit)
        return std::nullopt;
    const auto time = static_cast<std::time_t>(whole);
    std::tm local{};
    if (!localtime_r(&time, &local))
        return std::nullopt;
    return local;
}

// ---------------------------------------------------------------------------------------------
// Base64

constexpr std::uint8_t kNotBase64 = 0xFF;
constexpr std::uint8_t kPadding = 0xFE;

constexpr std::array<std::uint8_t, 256> makeSextets()
{
    constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = kNotBase64;
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = i;
    table[static_cast<unsigned char>('=')] = kPadding;
    return table;
}

constexpr auto kSextets = makeSextets();

// The slow path, for text the strict decoder refuses. Characters outside the alphabet are
// skipped wherever they stand. "=" ends the data: how many follow does not matter (the padding
// added beforehand was counted against a length that included the skipped characters), but a
// symbol after one means two texts ran together or the text is damaged, and gives none.
// Whatever remains at the end must make whole bytes: two or three symbols carry one or two
// bytes, while a lone symbol (six bits) cannot, and gives none rather than a shortened result.
std::optional<Bytes> decodeLenient(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t bits = 0;
    int pending = 0;
    bool ended = false;
    for (const char c : text) {
        const std::uint8_t sextet = kSextets[static_cast<unsigned char>(c)];
        if (sextet == kNotBase64)
            continue;
        if (sextet == kPadding) {
            ended = true;
            continue;
        }
        if (ended)
            return std::nullopt;
        bits = (bits << 6) | sextet;
        if (++pending == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            pending = 0;
        }
    }
    if (pending == 1)
        return std::nullopt;
    if (pending == 2) {
        out.push_back(static_cast<std::uint8_t>(bits >> 4));
    } else if (pending == 3) {
        out.push_back(static_cast<std::uint8_t>(bits >> 10));
        out.push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Hex

constexpr std::array<std::array<char, 2>, 256> makeHexPairs()
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> table{};
    for (std::size_t i = 0; i < 256; ++i)
        table[i] = {digits[i >> 4], digits[i & 15]};
    return table;
}

constexpr auto kHexPairs = makeHexPairs();

// A line of the dump holds sixteen bytes in 52 characters: "XX " eight times, the gap, "XX "
// eight times, " \n", and the space that starts the next line. The dump is made of spaces
// first, so the writers below only put down digits and line breaks.
constexpr std::size_t kLineBytes = 16;
constexpr std::size_t kLineChars = 52;

constexpr std::size_t digitColumn(std::size_t byte)
{
    return byte < 8 ? 3 * byte : 25 + 3 * (byte - 8);
}

// The digits of up to eight bytes, three columns apart, into text that already holds the spaces.
inline char* putGroup(char* out, const std::uint8_t* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, out += 3)
        std::memcpy(out, kHexPairs[bytes[i]].data(), 2);
    return out;
}

void putLinesPortable(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    for (std::size_t line = 0; line < lines; ++line, bytes += kLineBytes, out += kLineChars) {
        putGroup(out, bytes, 8);
        putGroup(out + digitColumn(8), bytes + 8, 8);
        out[kLineChars - 2] = '\n';
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Most of the dump is whole lines, and a byte-at-a-time writer spends most of its time on the
// three-character stride. With SSSE3 a line is four stores: the digits of all sixteen bytes come
// out of one 16-entry table look-up per nibble, and byte shuffles spread them over the columns.

struct LineShuffles {
    // Per 16-character slice of the line: where each character comes from in the digits of
    // bytes 0-7 (first) or 8-15 (second), -128 for none; and the spaces in between.
    std::int8_t fromLow[3][16];
    std::int8_t fromHigh[3][16];
    char spaces[3][16];
};

constexpr LineShuffles makeLineShuffles()
{
    LineShuffles m{};
    for (std::size_t slice = 0; slice < 3; ++slice) {
        for (std::size_t i = 0; i < 16; ++i) {
            m.fromLow[slice][i] = -128;
            m.fromHigh[slice][i] = -128;
            m.spaces[slice][i] = ' ';
        }
    }
    for (std::size_t byte = 0; byte < kLineBytes; ++byte) {
        for (std::size_t digit = 0; digit < 2; ++digit) {
            const std::size_t column = digitColumn(byte) + digit;
            const auto source = static_cast<std::int8_t>((byte % 8) * 2 + digit);
            (byte < 8 ? m.fromLow : m.fromHigh)[column / 16][column % 16] = source;
            m.spaces[column / 16][column % 16] = 0;
        }
    }
    return m;
}

constexpr LineShuffles kLineShuffles = makeLineShuffles();

[[gnu::target("ssse3")]] void putLinesSsse3(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const auto load = [](const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); };
    const __m128i low0 = load(kLineShuffles.fromLow[0]);
    const __m128i low1 = load(kLineShuffles.fromLow[1]);
    const __m128i high1 = load(kLineShuffles.fromHigh[1]);
    const __m128i high2 = load(kLineShuffles.fromHigh[2]);
    const __m128i spaces0 = load(kLineShuffles.spaces[0]);
    const __m128i spaces1 = load(kLineShuffles.spaces[1]);
    const __m128i spaces2 = load(kLineShuffles.spaces[2]);
    for (std::size_t line = 0; line < lines; ++line, bytes += kLineBytes, out += kLineChars) {
        const __m128i v = load(bytes);
        const __m128i upper = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
        const __m128i lower = _mm_shuffle_epi8(digits, _mm_and_si128(v, nibble));
        const __m128i first = _mm_unpacklo_epi8(upper, lower); // digits of bytes 0-7
        const __m128i second = _mm_unpackhi_epi8(upper, lower); // digits of bytes 8-15
        auto* slice = reinterpret_cast<__m128i*>(out);
        _mm_storeu_si128(slice, _mm_or_si128(_mm_shuffle_epi8(first, low0), spaces0));
        _mm_storeu_si128(slice + 1,
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(first, low1), _mm_shuffle_epi8(second, high1)), spaces1));
        _mm_storeu_si128(slice + 2, _mm_or_si128(_mm_shuffle_epi8(second, high2), spaces2));
        out[kLineChars - 2] = '\n';
    }
}

void putLines(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        putLinesSsse3(out, bytes, lines);
    else
        putLinesPortable(out, bytes, lines);
}
#else
void putLines(char* out, const std::uint8_t* bytes, std::size_t lines)
{
    putLinesPortable(out, bytes, lines);
}
#endif

// A dump of a large body is tens of megabytes of fresh memory, and touching it page by page
// costs several times more than writing the digits. Large pages, where the system offers
// them, take that down to a few faults.
std::string spacesOfLength(std::size_t size)
{
    std::string text;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    if (size >= 2 * kLargePage) {
        text.reserve(size);
        const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
        const std::uintptr_t last = (begin + text.capacity()) & ~(kLargePage - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE); // advice only: failing changes nothing
    }
#endif
    text.resize(size, ' ');
    return text;
}

constexpr int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::uint64_t VDUtils::randomIn(std::uint64_t location, std::uint64_t length)
{
    // An empty range has nothing to draw from; its start is the only sensible answer.
    if (length == 0)
        return location;
    const std::uint32_t draw = static_cast<std::uint32_t>(generator()());
    return location + draw % length;
}

std::string VDUtils::randomStringWithLength(std::int32_t count)
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    if (count <= 0)
        return {};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    auto& engine = generator();
    std::string out(static_cast<std::size_t>(count), 'a');
    for (auto& c : out)
        c = kAlphabet[pick(engine)];
    return out;
}

std::string VDUtils::formatTunnelStartTime(double secondsSince1970)
{
    const auto local = localTime(secondsSince1970);
    if (!local)
        return {};
    return format("%02d:%02d", local->tm_hour, local->tm_min);
}

std::string VDUtils::formatTunnelStartTimeWithData(double secondsSince1970)
{
    const auto local = localTime(secondsSince1970);
    if (!local)
        return {};
    // The year always takes four digits, also before the year 1000.
    return format("%04d-%02d-%02d %02d:%02d", local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                  local->tm_min);
}

std::pair<std::string, std::string> VDUtils::transformedValue(std::int64_t value, bool isSpeed)
{
    static constexpr std::array<const char*, 9> kUnits{"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    if (value == 0)
        return isSpeed ? std::pair<std::string, std::string>{"0", "B"} : std::pair<std::string, std::string>{"--", ""};
    // The step to the next unit comes at 1000 although a unit is 1024 of the one below, so the
    // number never needs four digits: 1000 bytes already read 1.0 KB.
    auto x = static_cast<double>(value);
    std::size_t unit = 0;
    if (value >= 1000) {
        do {
            x /= 1024.0;
            ++unit;
        } while (x >= 1000.0 && unit + 1 < kUnits.size());
    }
    return {x > 100.0 ? numbers::fixed(x, 0, 3) : numbers::fixed(x, 1, 3), kUnits[unit]};
}

std::string VDUtils::formatDuration(double seconds)
{
    if (seconds < 10.0)
        return numbers::fixed(seconds * 1000.0, 0) + " ms";
    if (seconds < 1000.0)
        return numbers::fixed(seconds, 2) + " s";
    if (seconds < 3600.0)
        return numbers::fixed(seconds, 1) + " s";
    return numbers::fixed(seconds / 3600.0, 2) + " h";
}

std::string VDUtils::formatTTL(std::int64_t seconds)
{
    if (seconds < 0)
        return {};
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    if (seconds < 3600)
        return numbers::fixed(static_cast<double>(seconds) / 60.0, 1) + " m";
    return numbers::fixed(static_cast<double>(seconds) / 3600.0, 1) + " h";
}

std::optional<Bytes> VDUtils::base64DecodeData(std::string_view text, bool urlSafe)
{
    const std::size_t missing = (4 - text.size() % 4) % 4;
    // Bodies and icons arrive as plain, padded base64: decode them in place with the fast
    // strict decoder and copy the text only when it has to change.
    if (missing == 0 && !urlSafe) {
        if (auto strict = base64::decodeStrict(text))
            return strict;
        return decodeLenient(text);
    }
    std::string fixed;
    fixed.reserve(text.size() + missing);
    fixed.append(text);
    fixed.append(missing, '=');
    if (urlSafe) {
        for (auto& c : fixed) {
            if (c == '_')
                c = '/';
            else if (c == '-')
                c = '+';
        }
    }
    if (auto strict = base64::decodeStrict(fixed))
        return strict;
    return decodeLenient(fixed);
}

void VDUtils::runBlockInMainThread(Task task)
{
    vd::runBlockInMainThread(std::move(task));
}

std::optional<std::filesystem::path> VDUtils::getAndCreateTmpFolder()
{
    namespace fs = std::filesystem;
    const fs::path folder = paths::caches() / "VantorDashboard";
    std::error_code error;
    const fs::file_status status = fs::status(folder, error);
    if (fs::exists(status))
        return fs::is_directory(status) ? std::optional(folder) : std::nullopt;
    // Anything but "not there" (a parent we may not search, say) leaves us without a folder.
    if (status.type() != fs::file_type::not_found)
        return std::nullopt;
    fs::create_directories(folder, error);
    // Another thread or process may have made it in the meantime; what counts is that a folder
    // is there now.
    if (error || !fs::is_directory(folder, error))
        return std::nullopt;
    return folder;
}

std::string VDUtils::hexStringOfData(std::span<const std::uint8_t> data)
{
    // Bodies of several megabytes go through here, so the whole dump is sized up front: whole
    // lines, then a partial line of three characters a byte plus the gap once it reaches eight.
    const std::size_t lines = data.size() / kLineBytes;
    const std::size_t rest = data.size() % kLineBytes;
    const std::size_t size = 1 + lines * kLineChars + rest * 3 + (rest >= 8 ? 1 : 0);
    std::string out = spacesOfLength(size);
    char* o = out.data() + 1;
    putLines(o, data.data(), lines);
    o += lines * kLineChars;
    const std::uint8_t* tail = data.data() + lines * kLineBytes;
    putGroup(o, tail, std::min<std::size_t>(rest, 8));
    if (rest > 8)
        putGroup(o + digitColumn(8), tail + 8, rest - 8);
    return out;
}

std::uint16_t VDUtils::uint16FromBytes(std::span<const std::uint8_t> data)
{
    if (data.size() != 2)
        return 0xFFFF;
    return static_cast<std::uint16_t>(data[0] << 8 | data[1]);
}

Bytes VDUtils::dataFromHexString(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() / 2);
    // Pairs are read where they start: a digit with a separator after it counts on its own
    // ("a b" is 0A), and a digit in the last place has no partner and is dropped.
    std::size_t i = 0;
    while (i + 1 < text.size()) {
        const int high = hexValue(text[i]);
        if (high < 0) {
            ++i;
            continue;
        }
        const int low = hexValue(text[i + 1]);
        out.push_back(static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low));
        i += 2;
    }
    return out;
}

Bytes VDUtils::dataWithReverse(std::span<const std::uint8_t> data)
{
    return Bytes(data.rbegin(), data.rend());
}

bool VDUtils::isIP(std::string_view text)
{
    return QNIPAddress::isValidIPAddress(text);
}

bool VDUtils::isIPv4(std::string_view text)
{
    return QNIPAddress::isValidIPv4Address(text);
}

bool VDUtils::isIPv6(std::string_view text)
{
    return QNIPAddress::isValidIPv6Address(text);
}

std::string VDUtils::ipFormat(std::string_view text)
{
    // Brackets keep an IPv6 address apart from the ":port" that may follow it in a host text.
    if (QNIPAddress::isValidIPv4Address(text) || !QNIPAddress::isValidIPv6Address(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('[');
    for (const char c : text)
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    out.push_back(']');
    return out;
}

} // namespace vd
