#include "VDByteSearch.h"

#include <algorithm>
#include <cstring>

namespace vd {
namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

std::optional<Bytes> hexBytesOf(const QString& query)
{
    QString digits = query;
    digits.remove(QChar(' '));
    if (digits.isEmpty() || digits.size() % 2 != 0)
        return std::nullopt;
    Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(digits.size() / 2));
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int high = hexDigit(digits[i]);
        const int low = hexDigit(digits[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

} // namespace

VDBytePattern bytePatternOf(const QString& query)
{
    if (auto hex = hexBytesOf(query))
        return {std::move(*hex), false};
    const QByteArray utf8 = query.toUtf8();
    return {Bytes(utf8.begin(), utf8.end()), true};
}

VDByteFinder::VDByteFinder(VDBytePattern pattern)
{
    for (std::size_t b = 0; b < fold_.size(); ++b)
        fold_[b] = static_cast<std::uint8_t>(pattern.ignoreCase && b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
    pattern_ = std::move(pattern.bytes);
    for (auto& b : pattern_)
        b = fold_[b];
    // Folding changes only letters: a pattern without any matches exactly what it is.
    exact_ = !pattern.ignoreCase || std::none_of(pattern_.begin(), pattern_.end(), [](std::uint8_t b) { return b >= 'a' && b <= 'z'; });
}

bool VDByteFinder::matchesAt(std::span<const std::uint8_t> bytes, std::size_t at) const
{
    for (std::size_t j = 1; j < pattern_.size(); ++j) {
        if (fold_[bytes[at + j]] != pattern_[j])
            return false;
    }
    return true;
}

// Each byte is looked at on its own rather than skipping by a table: a skip waits on the load
// before it, while these loads overlap, which is several times faster for short patterns.
std::optional<std::size_t> VDByteFinder::forward(std::span<const std::uint8_t> bytes, std::size_t from) const
{
    const std::size_t m = pattern_.size();
    if (m == 0 || bytes.size() < m || from > bytes.size() - m)
        return std::nullopt;
    if (exact_) {
        // The C library's search is faster still where case plays no part.
        const void* found = memmem(bytes.data() + from, bytes.size() - from, pattern_.data(), m);
        if (!found)
            return std::nullopt;
        return static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes.data());
    }
    const std::uint8_t first = pattern_.front();
    for (std::size_t i = from; i <= bytes.size() - m; ++i) {
        if (fold_[bytes[i]] == first && matchesAt(bytes, i))
            return i;
    }
    return std::nullopt;
}

std::optional<std::size_t> VDByteFinder::backward(std::span<const std::uint8_t> bytes, std::size_t before) const
{
    const std::size_t m = pattern_.size();
    if (m == 0 || bytes.size() < m || before == 0)
        return std::nullopt;
    const std::uint8_t first = pattern_.front();
    for (std::size_t i = std::min(before - 1, bytes.size() - m) + 1; i-- > 0;) {
        if (fold_[bytes[i]] == first && matchesAt(bytes, i))
            return i;
    }
    return std::nullopt;
}

} // namespace vd
