#include <cstring>

#include "JsonValidity.h"
#include "PrettyBody.h"

namespace vd {
namespace {

constexpr std::size_t kIndentWidth = 2;

bool isJsonSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// One pass over text already known to be JSON, copying each token whole and putting line
// breaks and indentation between them.
class Reindenter {
public:
    explicit Reindenter(std::string_view json) : json_(json) { out_.reserve(json.size() + json.size() / 2); }

    void run()
    {
        while (at_ < json_.size()) {
            const char c = json_[at_];
            switch (c) {
            case ' ': case '\n': case '\r': case '\t':
                ++at_;
                break;
            case '"':
                copyString();
                break;
            case ':':
                out_ += ": ";
                ++at_;
                break;
            case ',':
                out_ += ',';
                newLine();
                ++at_;
                break;
            case '{': case '[':
                open(c);
                break;
            case '}': case ']':
                --depth_;
                newLine();
                out_ += c;
                ++at_;
                break;
            default:
                copyScalar();
            }
        }
    }

    std::string take() { return std::move(out_); }

private:
    void newLine()
    {
        out_ += '\n';
        out_.append(depth_ * kIndentWidth, ' ');
    }

    void open(char bracket)
    {
        std::size_t next = at_ + 1;
        while (next < json_.size() && isJsonSpace(json_[next]))
            ++next;
        out_ += bracket;
        // An empty container stays on its line.
        if (next < json_.size() && (json_[next] == '}' || json_[next] == ']')) {
            out_ += json_[next];
            at_ = next + 1;
            return;
        }
        ++depth_;
        newLine();
        at_ = next;
    }

    // A quote ends the string unless an odd run of backslashes escapes it.
    void copyString()
    {
        std::size_t end = at_ + 1;
        for (;;) {
            const void* quote = std::memchr(json_.data() + end, '"', json_.size() - end);
            end = static_cast<const char*>(quote) - json_.data();
            std::size_t backslashes = 0;
            while (json_[end - 1 - backslashes] == '\\')
                ++backslashes;
            if (backslashes % 2 == 0)
                break;
            ++end;
        }
        out_.append(json_.data() + at_, end + 1 - at_);
        at_ = end + 1;
    }

    // A number, true, false or null, which runs to the next delimiter.
    void copyScalar()
    {
        std::size_t end = at_;
        while (end < json_.size() && !isJsonSpace(json_[end]) && json_[end] != ',' && json_[end] != ']' && json_[end] != '}')
            ++end;
        out_.append(json_.data() + at_, end - at_);
        at_ = end;
    }

    std::string_view json_;
    std::string out_;
    std::size_t at_ = 0;
    std::size_t depth_ = 0;
};

} // namespace

PrettyText prettyJson(std::string_view json)
{
    if (std::string problem = jsonProblemOf(json); !problem.empty())
        return {{}, std::move(problem)};
    Reindenter reindenter(json);
    reindenter.run();
    return {reindenter.take(), {}};
}

} // namespace vd
