#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "JsonValidity.h"
#include "PrettyBody.h"

namespace vd {
namespace {

constexpr std::size_t kIndentWidth = 2;
// simdjson refuses deeper nesting, so no valid text needs a longer indentation.
constexpr std::size_t kDeepestLevel = 1024;
// Tokens are copied in whole blocks of this size, which may run past a token's end: the input
// is padded and the output keeps this much room beyond what it writes.
constexpr std::size_t kBlock = 16;
static_assert(kJsonPadding >= kBlock);

// A line break and the indentation of the deepest level; a new line copies a prefix of it.
const std::string& newLines()
{
    static const std::string lines = '\n' + std::string(kDeepestLevel * kIndentWidth + kBlock, ' ');
    return lines;
}

// Where a number, true, false or null ends.
constexpr std::array<bool, 256> kEndsScalar = [] {
    std::array<bool, 256> ends{};
    for (const unsigned char c : {' ', '\n', '\r', '\t', ',', ']', '}'})
        ends[c] = true;
    return ends;
}();

// The high bit of every byte of `word` that equals `byte`, exact up to the first one, which is
// all a scan needs. The first byte in memory is the lowest of the word.
static_assert(std::endian::native == std::endian::little);
constexpr std::uint64_t bytesEqual(std::uint64_t word, unsigned char byte)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    const std::uint64_t x = word ^ (kOnes * byte);
    return (x - kOnes) & ~x & (kOnes << 7);
}

// The output, written through a cursor: growing is checked once per token, not per byte.
class Output {
public:
    explicit Output(std::size_t expected) : text_(expected + kBlock, '\0'), at_(text_.data()), end_(at_ + expected) {}

    // `size` bytes from `bytes`, which may be read up to a block past them.
    void copy(const char* bytes, std::size_t size)
    {
        room(size);
        for (std::size_t done = 0; done < size; done += kBlock)
            std::memcpy(at_ + done, bytes + done, kBlock);
        at_ += size;
    }

    void put(char c)
    {
        room(1);
        *at_++ = c;
    }

    std::string take()
    {
        text_.resize(static_cast<std::size_t>(at_ - text_.data()));
        return std::move(text_);
    }

private:
    void room(std::size_t size)
    {
        if (static_cast<std::size_t>(end_ - at_) >= size)
            return;
        const std::size_t used = static_cast<std::size_t>(at_ - text_.data());
        const std::size_t wanted = std::max(text_.size() * 2, used + size);
        text_.resize(wanted + kBlock);
        at_ = text_.data() + used;
        end_ = text_.data() + wanted;
    }

    std::string text_;
    char* at_;
    char* end_;
};

// One pass over text already known to be JSON and followed by padding, copying each token
// whole and putting line breaks and indentation between them.
std::string reindented(std::string_view json)
{
    // Pretty text of typical API answers is one and a half to two times the size of compact text.
    Output out(json.size() * 2);
    std::size_t depth = 0;
    const auto newLine = [&] { out.copy(newLines().data(), 1 + depth * kIndentWidth); };
    const char* at = json.data();
    const char* const end = at + json.size();
    while (at < end) {
        switch (*at) {
        case ' ': case '\n': case '\r': case '\t':
            ++at;
            break;
        case '"': {
            // Valid JSON closes every string, and a backslash always has its escaped byte;
            // eight bytes are looked at a time.
            const char* const first = at++;
            for (;;) {
                std::uint64_t word;
                std::memcpy(&word, at, sizeof word);
                const std::uint64_t stops = bytesEqual(word, '"') | bytesEqual(word, '\\');
                if (stops == 0) {
                    at += sizeof word;
                    continue;
                }
                at += std::countr_zero(stops) / 8;
                if (*at == '"')
                    break;
                at += 2;
            }
            ++at;
            out.copy(first, static_cast<std::size_t>(at - first));
            break;
        }
        case ':':
            out.put(':');
            out.put(' ');
            ++at;
            break;
        case ',':
            out.put(',');
            newLine();
            ++at;
            break;
        case '{': case '[': {
            const char open = *at++;
            while (at < end && (*at == ' ' || *at == '\n' || *at == '\r' || *at == '\t'))
                ++at;
            out.put(open);
            // An empty container stays on its line.
            if (*at == '}' || *at == ']') {
                out.put(*at++);
            } else {
                ++depth;
                newLine();
            }
            break;
        }
        case '}': case ']':
            --depth;
            newLine();
            out.put(*at++);
            break;
        default: {
            const char* const first = at;
            while (at < end && !kEndsScalar[static_cast<unsigned char>(*at)])
                ++at;
            out.copy(first, static_cast<std::size_t>(at - first));
        }
        }
    }
    return out.take();
}

} // namespace

PrettyText prettyJson(std::string_view json)
{
    // One padded copy serves the parser and the copying of tokens in blocks.
    std::string padded;
    padded.reserve(json.size() + kJsonPadding);
    padded.assign(json);
    padded.append(kJsonPadding, ' ');
    const std::string_view text(padded.data(), json.size());
    if (std::string problem = jsonProblemOf(text); !problem.empty())
        return {{}, std::move(problem)};
    return {reindented(text), {}};
}

} // namespace vd
