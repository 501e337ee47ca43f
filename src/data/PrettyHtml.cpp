#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

#include "PrettyBody.h"

namespace vd {
namespace {

constexpr std::size_t kIndentWidth = 2;

// Elements that never have content or an end tag.
constexpr std::array<std::string_view, 16> kVoidElements{"area", "base", "br", "col", "embed", "hr", "img", "input",
                                                         "keygen", "link", "meta", "param", "source", "track", "wbr", "frame"};
// Elements whose content is not markup, or whose spacing matters: shown as written.
constexpr std::array<std::string_view, 4> kVerbatimElements{"script", "style", "textarea", "pre"};

// An element whose end tag may be left out ends where one of these starts.
struct ImpliedEnd {
    std::string_view starting;
    std::array<std::string_view, 3> closes;
};
constexpr std::array<ImpliedEnd, 8> kImpliedEnds{{
    {"li", {"li"}}, {"dt", {"dt", "dd"}}, {"dd", {"dt", "dd"}}, {"tr", {"tr", "td", "th"}},
    {"td", {"td", "th"}}, {"th", {"td", "th"}}, {"option", {"option"}}, {"p", {"p"}},
}};

template <std::size_t N>
bool isOneOf(std::string_view name, const std::array<std::string_view, N>& names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isLetter(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

char lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// A tolerant single pass: tags, comments and text each on their own line, indented by the
// elements open around them.
class HtmlPrinter {
public:
    explicit HtmlPrinter(std::string_view html) : html_(html) { out_.reserve(html.size() + html.size() / 4); }

    // False when the text holds no markup at all.
    bool run()
    {
        bool sawMarkup = false;
        while (at_ < html_.size()) {
            if (startsMarkup(at_)) {
                sawMarkup = true;
                markup();
            } else {
                text();
            }
        }
        return sawMarkup;
    }

    std::string take() { return std::move(out_); }

private:
    bool startsMarkup(std::size_t at) const
    {
        if (html_[at] != '<' || at + 1 >= html_.size())
            return false;
        const char next = html_[at + 1];
        return isLetter(next) || next == '!' || next == '?' || (next == '/' && at + 2 < html_.size() && isLetter(html_[at + 2]));
    }

    void line(std::string_view content)
    {
        if (!out_.empty())
            out_ += '\n';
        out_.append(open_.size() * kIndentWidth, ' ');
        out_ += content;
    }

    std::size_t endOf(std::string_view terminator, std::size_t from) const
    {
        const std::size_t found = html_.find(terminator, from);
        return found == std::string_view::npos ? html_.size() : found + terminator.size();
    }

    // The end of a tag: its '>', passing over quoted attribute values that may hold one.
    std::size_t tagEnd(std::size_t from) const
    {
        char quote = 0;
        for (std::size_t i = from; i < html_.size(); ++i) {
            const char c = html_[i];
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i + 1;
            }
        }
        return html_.size();
    }

    std::string nameAt(std::size_t from) const
    {
        std::string name;
        for (std::size_t i = from; i < html_.size() && !isHtmlSpace(html_[i]) && html_[i] != '/' && html_[i] != '>'; ++i)
            name += lower(html_[i]);
        return name;
    }

    void markup()
    {
        const char next = html_[at_ + 1];
        std::size_t end = 0;
        if (html_.substr(at_).starts_with("<!--"))
            end = endOf("-->", at_ + 4);
        else if (next == '!' || next == '?')
            end = tagEnd(at_);
        else if (next == '/')
            end = endTag();
        else
            end = startTag();
        if (next == '!' || next == '?')
            line(html_.substr(at_, end - at_));
        at_ = end;
    }

    std::size_t endTag()
    {
        const std::string name = nameAt(at_ + 2);
        const std::size_t end = tagEnd(at_);
        // A stray end tag closes nothing; one that matches an open element also ends every
        // element left open inside it.
        const auto match = std::find(open_.rbegin(), open_.rend(), name);
        if (match != open_.rend())
            open_.erase(std::next(match).base(), open_.end());
        line(html_.substr(at_, end - at_));
        return end;
    }

    std::size_t startTag()
    {
        const std::string name = nameAt(at_ + 1);
        const std::size_t end = tagEnd(at_);
        for (const auto& implied : kImpliedEnds) {
            if (implied.starting != name)
                continue;
            while (!open_.empty() && isOneOf(open_.back(), implied.closes))
                open_.pop_back();
        }
        const std::string_view tag = html_.substr(at_, end - at_);
        line(tag);
        if (isOneOf(name, kVoidElements) || tag.ends_with("/>"))
            return end;
        if (isOneOf(name, kVerbatimElements))
            return verbatim(name, end);
        open_.push_back(name);
        return end;
    }

    // The content up to the element's end tag, as written, and the end tag at the element's level.
    std::size_t verbatim(const std::string& name, std::size_t from)
    {
        std::size_t close = from;
        for (;;) {
            close = html_.find("</", close);
            if (close == std::string_view::npos || nameAt(close + 2) == name)
                break;
            close += 2;
        }
        close = std::min(close, html_.size());
        std::string_view content = html_.substr(from, close - from);
        while (!content.empty() && (content.front() == '\n' || content.front() == '\r'))
            content.remove_prefix(1);
        while (!content.empty() && isHtmlSpace(content.back()))
            content.remove_suffix(1);
        if (!content.empty())
            out_.append("\n").append(content);
        if (close == html_.size())
            return close;
        const std::size_t end = tagEnd(close);
        line(html_.substr(close, end - close));
        return end;
    }

    // Text up to the next markup, its spaces collapsed as a browser shows them; entities stay.
    void text()
    {
        std::string collapsed;
        bool space = false;
        do {
            const char c = html_[at_++];
            if (isHtmlSpace(c)) {
                space = true;
                continue;
            }
            if (space && !collapsed.empty())
                collapsed += ' ';
            space = false;
            collapsed += c;
        } while (at_ < html_.size() && !startsMarkup(at_));
        if (!collapsed.empty())
            line(collapsed);
    }

    std::string_view html_;
    std::string out_;
    std::size_t at_ = 0;
    std::vector<std::string> open_;
};

} // namespace

PrettyText prettyHtml(std::string_view html)
{
    HtmlPrinter printer(html);
    if (!printer.run())
        return {{}, "No HTML markup in the body"};
    return {printer.take(), {}};
}

} // namespace vd
