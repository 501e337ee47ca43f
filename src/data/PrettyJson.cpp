#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "JsonValidity.h"
#include "PrettyBody.h"
#include "platform/LargeBuffers.h"

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

// Makes `text` hold `size` more bytes and a block after `at`, which points into it; returns
// where `at` is now. Kept out of line so the writer's cursor stays in registers.
[[gnu::noinline]] char* grown(std::string& text, char* at, std::size_t size)
{
    const std::size_t used = static_cast<std::size_t>(at - text.data());
    text.resize(std::max(text.size() * 2, used + size + kBlock));
    return text.data() + used;
}

// Writes into a string through a cursor, checking the room once per token: a token may be of
// any length, so no bound on the output is known in advance.
class Output {
public:
    explicit Output(std::string& text) : text_(text), at_(text.data()), end_(roomEnd()) {}

    // `size` bytes from `bytes`, which may be read up to a block past them.
    [[gnu::always_inline]] void copy(const char* bytes, std::size_t size)
    {
        if (static_cast<std::size_t>(end_ - at_) < size) {
            at_ = grown(text_, at_, size);
            end_ = roomEnd();
        }
        for (std::size_t done = 0; done < size; done += kBlock)
            std::memcpy(at_ + done, bytes + done, kBlock);
        at_ += size;
    }

    [[gnu::always_inline]] void put(char c)
    {
        if (at_ == end_) {
            at_ = grown(text_, at_, 1);
            end_ = roomEnd();
        }
        *at_++ = c;
    }

    // A line break and the indentation of `depth`.
    [[gnu::always_inline]] void newLine(std::size_t depth) { copy(breaks_, 1 + depth * kIndentWidth); }

    // Ends the text where the cursor is.
    void finish() { text_.resize(static_cast<std::size_t>(at_ - text_.data())); }

private:
    // A block may still be written from any byte before this.
    char* roomEnd() { return text_.data() + text_.size() - kBlock; }

    std::string& text_;
    char* at_;
    char* end_;
    const char* const breaks_ = newLines().data();
};

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// One pass over text already known to be JSON and followed by padding, copying each token
// whole and putting line breaks and indentation between them.
std::string reindented(std::string_view json)
{
    // Pretty text of typical API answers is one and a half to two times the size of compact text.
    std::string text;
    text.reserve(json.size() * 2 + kBlock);
    preferHugePages(text.data(), text.capacity());
    text.resize(json.size() * 2 + kBlock);
    Output out(text);
    std::size_t depth = 0;
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
            out.newLine(depth);
            ++at;
            break;
        case '{': case '[': {
            const char open = *at++;
            while (at < end && isSpace(*at))
                ++at;
            out.put(open);
            // An empty container stays on its line.
            if (*at == '}' || *at == ']') {
                out.put(*at++);
            } else {
                ++depth;
                out.newLine(depth);
            }
            break;
        }
        case '}': case ']':
            --depth;
            out.newLine(depth);
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
    out.finish();
    return text;
}

} // namespace

PrettyText prettyJson(std::string_view json)
{
    // One padded copy serves the parser and the copying of tokens in blocks.
    std::string padded;
    padded.reserve(json.size() + kJsonPadding);
    preferHugePages(padded.data(), padded.capacity());
    padded.assign(json);
    padded.append(kJsonPadding, ' ');
    const std::string_view text(padded.data(), json.size());
    if (std::string problem = jsonProblemOf(text); !problem.empty())
        return {{}, std::move(problem)};
    return {reindented(text), {}};
}

} // namespace vd
