#include "PrettyBody.h"

#include <algorithm>

#include "platform/Numbers.h"

namespace vd {
namespace {

std::string formDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const int high = c == '%' && i + 2 < text.size() ? numbers::hexDigitValue(text[i + 1]) : -1;
        const int low = high >= 0 ? numbers::hexDigitValue(text[i + 2]) : -1;
        if (low >= 0) {
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c == '+' ? ' ' : c;
        }
    }
    return out;
}

} // namespace

std::vector<std::pair<std::string, std::string>> formFields(std::string_view body)
{
    std::vector<std::pair<std::string, std::string>> fields;
    while (!body.empty()) {
        const std::size_t amp = std::min(body.find('&'), body.size());
        const std::string_view pair = body.substr(0, amp);
        body.remove_prefix(std::min(amp + 1, body.size()));
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos)
            fields.emplace_back(formDecoded(pair), std::string());
        else
            fields.emplace_back(formDecoded(pair.substr(0, equals)), formDecoded(pair.substr(equals + 1)));
    }
    return fields;
}

} // namespace vd
