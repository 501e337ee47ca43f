#include <array>
#include <cstring>

#include "JsonValidity.h"
#include "PrettyBody.h"

namespace vd {
namespace {

constexpr std::size_t kIndentWidth = 2;
// simdjson refuses deeper nesting, so no valid text needs a longer indentation.
constexpr std::size_t kDeepestLevel = 1024;

// A line break and the indentation of the deepest level; a new line copies a prefix of it.
const std::string& newLines()
{
    static const std::string lines = '\n' + std::string(kDeepestLevel * kIndentWidth, ' ');
    return lines;
}

// Where a number, true, false or null ends.
constexpr std::array<bool, 256> kEndsScalar = [] {
    std::array<bool, 256> ends{};
    for (const unsigned char c : {' ', '\n', '\r', '\t', ',', ']', '}'})
        ends[c] = true;
    return ends;
}();

// The output, written through a cursor: growing is checked once per token, not per byte.
class Output {
public:
    explicit Output(std::size_t expected) : text_(expected, '\0'), at_(text_.data()), end_(at_ + text_.size()) {}

    void put(const char* bytes, std::size_t size)
    {
        room(size);
        std::memcpy(at_, bytes, size);
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
        text_.resize(std::max(text_.size() * 2, used + size));
        at_ = text_.data() + used;
        end_ = text_.data() + text_.size();
    }

    std::string text_;
    char* at_;
    char* end_;
};

// One pass over text already known to be JSON, copying each token whole and putting line
// breaks and indentation between them.
std::string reindented(std::string_view json)
{
    // Pretty text of typical API answers is one and a half to two times the size of compact text.
    Output out(json.size() * 2);
    std::size_t depth = 0;
    const auto newLine = [&] { out.put(newLines().data(), 1 + depth * kIndentWidth); };
    const char* at = json.data();
    const char* const end = at + json.size();
    while (at < end) {
        switch (*at) {
        case ' ': case '\n': case '\r': case '\t':
            ++at;
            break;
        case '"': {
            // Valid JSON closes every string, and a backslash always has its escaped byte.
            const char* const first = at++;
            while (*at != '"')
                at += *at == '\\' ? 2 : 1;
            ++at;
            out.put(first, static_cast<std::size_t>(at - first));
            break;
        }
        case ':':
            out.put(": ", 2);
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
            out.put(first, static_cast<std::size_t>(at - first));
        }
        }
    }
    return out.take();
}

} // namespace

PrettyText prettyJson(std::string_view json)
{
    if (std::string problem = jsonProblemOf(json); !problem.empty())
        return {{}, std::move(problem)};
    return {reindented(json), {}};
}

} // namespace vd
