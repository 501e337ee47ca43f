#include <random>

#include "VDUtils.h"

namespace vd {
namespace {

// Each thread draws from its own engine, so test data can be made from any queue without a lock.
std::mt19937& generator()
{
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine;
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

} // namespace vd
