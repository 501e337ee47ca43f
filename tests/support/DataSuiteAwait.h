#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "platform/MainLoop.h"

namespace vd::test {

// Starts an operation whose completion runs on the main loop, and runs `loop` until it has:
// what the completion got, or none when it never came. The result is touched on the loop's
// thread only, so a completion posted from any thread needs no lock here.
template <typename Result>
std::optional<Result> awaitCompletion(MainLoop& loop, const std::function<void(std::function<void(Result)>)>& start,
                                      std::chrono::milliseconds patience = std::chrono::seconds(20))
{
    auto got = std::make_shared<std::optional<Result>>();
    start([got](Result result) { *got = std::move(result); });
    loop.runUntil([&] { return got->has_value(); }, patience);
    return *got;
}

} // namespace vd::test
