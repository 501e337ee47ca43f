#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/MainLoop.h"

// What the data suites share: the files the data stores leave in a test's temporary folder;
// bytes no shortcut could guess; texts compared as one list; completions awaited on the main
// loop.
namespace vd::test {

// The names in `folder`, sorted, so a stray or missing file shows in one comparison.
inline std::vector<std::string> entriesOf(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A fixed-seed linear congruential run.
inline Bytes patterned(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

using Texts = std::vector<std::string>;

// Record fields are views into the record's text, derived texts are strings; both compare as
// strings here, so a table of fields compares in one assertion.
template <typename... Parts>
Texts textsOf(const Parts&... parts)
{
    return {std::string(parts)...};
}

// Starts an operation whose completion runs on the main loop, and runs `loop` until it has:
// what the completion got, or none when it never came. The result is touched on the loop's
// thread only, so a completion posted from any thread needs no lock here. The patience is
// generous for sanitizer builds on a loaded machine; a completion that comes returns at once.
template <typename Result>
std::optional<Result> awaitCompletion(MainLoop& loop,
                                      const std::function<void(std::function<void(Result)>)>& start)
{
    auto got = std::make_shared<std::optional<Result>>();
    start([got](Result result) { *got = std::move(result); });
    loop.runUntil([&] { return got->has_value(); }, std::chrono::seconds(20));
    return *got;
}

} // namespace vd::test
