#include "CappedOutput.h"

#include <algorithm>
#include <utility>

namespace vd {
namespace {

constexpr std::size_t kSmallestRoom = 64 * 1024;

} // namespace

CappedOutput::CappedOutput(std::size_t cap, std::size_t expected) : cap_(cap)
{
    buffer_.resize(std::min(cap_, std::max(expected, kSmallestRoom)));
}

void CappedOutput::expect(std::size_t size)
{
    if (used_ == 0 && size > buffer_.size())
        buffer_.resize(std::min(cap_, size));
}

std::span<std::uint8_t> CappedOutput::room()
{
    probing_ = used_ >= cap_;
    if (probing_)
        return {&probe_, 1};
    if (used_ == buffer_.size())
        buffer_.resize(std::min(cap_, std::max(used_ * 2, kSmallestRoom)));
    return {buffer_.data() + used_, buffer_.size() - used_};
}

void CappedOutput::commit(std::size_t written)
{
    if (probing_)
        overflowed_ = overflowed_ || written > 0;
    else
        used_ += written;
}

void CappedOutput::clear()
{
    used_ = 0;
    overflowed_ = false;
}

Bytes CappedOutput::take()
{
    buffer_.resize(used_);
    // Regrowing by doubling can leave up to half the buffer unused; a body this size is kept
    // for as long as it is shown, so the slack is worth one copy.
    if (buffer_.capacity() - used_ > used_ / 8)
        buffer_.shrink_to_fit();
    used_ = 0;
    return std::move(buffer_);
}

} // namespace vd
