#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <iterator>
#include <string_view>

namespace vd::sim {

// What a hostile service does to a connection besides serving it.
enum class ChaosAct {
    cut,             // closes the link in the middle of a packet
    garbageBase64,   // text that is not Base64, as a whole packet or where Base64 belongs
    wrongTypes,      // a packet with one field of the wrong JSON type
    hugeSize,        // a body that announces far more bytes than follow
    endless,         // a packet that never ends
    drip,            // a packet written one byte per 100 ms
    duplicateRecent, // recent records again, repeated and out of order
    unsafeIcon,      // an icon under a bundle id that is no plain file name
    notHttp,         // a body that is no HTTP message
    flood,           // thousands of pushes at once
};

std::string_view nameOf(ChaosAct act);

// The random choices of one connection in chaos mode, drawn from a generator seeded with the
// run's seed, the connection number and the stream (timed acts, or answers to requests), so
// every choice replays from those three numbers whatever the other streams did meanwhile.
class ChaosPlan {
public:
    enum class Stream : std::uint32_t { acts = 1, answers = 2 };

    ChaosPlan(std::uint64_t seed, int connection, Stream stream);

    // A plan of its own for the details of one act: however many choices the act makes (they
    // depend on the traffic at that moment), the stream it came from stays in step.
    ChaosPlan fork();

    // The act before the greeting, or none: most connections are let in.
    bool disturbsLogin();
    ChaosAct loginAct();
    ChaosAct nextAct();
    // How long the connection is served normally before the next act.
    std::chrono::milliseconds pause();
    // Whether an answer to a request is replaced by a hostile one.
    bool spoilsAnswer();

    // A number in [0, bound).
    std::size_t below(std::size_t bound);
    bool percent(unsigned chance);
    template <typename Choices>
    const auto& pick(const Choices& choices)
    {
        return choices[below(std::size(choices))];
    }
    std::mt19937_64& generator() { return generator_; }

private:
    explicit ChaosPlan(std::seed_seq& sequence);

    std::mt19937_64 generator_;
};

} // namespace vd::sim
