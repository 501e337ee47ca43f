#include "ChaosPlan.h"

#include <array>

namespace vd::sim {
namespace {

struct Weighted {
    ChaosAct act;
    unsigned weight;
};

// Acts that end or stall the connection are rarer, so most connections live long enough to
// see the others.
constexpr std::array kActWeights{
    Weighted{ChaosAct::cut, 1},         Weighted{ChaosAct::garbageBase64, 3}, Weighted{ChaosAct::wrongTypes, 5},
    Weighted{ChaosAct::hugeSize, 2},    Weighted{ChaosAct::endless, 1},       Weighted{ChaosAct::drip, 2},
    Weighted{ChaosAct::duplicateRecent, 2}, Weighted{ChaosAct::unsafeIcon, 2}, Weighted{ChaosAct::notHttp, 2},
    Weighted{ChaosAct::flood, 1},
};

constexpr std::array kLoginActs{ChaosAct::endless, ChaosAct::drip, ChaosAct::garbageBase64, ChaosAct::notHttp, ChaosAct::cut};

} // namespace

std::string_view nameOf(ChaosAct act)
{
    switch (act) {
    case ChaosAct::cut: return "cut";
    case ChaosAct::garbageBase64: return "garbage_base64";
    case ChaosAct::wrongTypes: return "wrong_types";
    case ChaosAct::hugeSize: return "huge_size";
    case ChaosAct::endless: return "endless";
    case ChaosAct::drip: return "drip";
    case ChaosAct::duplicateRecent: return "duplicate_recent";
    case ChaosAct::unsafeIcon: return "unsafe_icon";
    case ChaosAct::notHttp: return "not_http";
    case ChaosAct::flood: return "flood";
    }
    return "unknown";
}

ChaosPlan::ChaosPlan(std::uint64_t seed, int connection, Stream stream)
{
    std::seed_seq sequence{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32),
                           static_cast<std::uint32_t>(connection), static_cast<std::uint32_t>(stream)};
    generator_.seed(sequence);
}

ChaosPlan::ChaosPlan(std::seed_seq& sequence) : generator_(sequence) {}

ChaosPlan ChaosPlan::fork()
{
    const auto draw = generator_();
    std::seed_seq sequence{static_cast<std::uint32_t>(draw), static_cast<std::uint32_t>(draw >> 32)};
    return ChaosPlan(sequence);
}

std::size_t ChaosPlan::below(std::size_t bound)
{
    // Drawn by hand: the standard distributions may differ between library versions, and a
    // seed must replay the same chaos wherever the simulator was built.
    return bound == 0 ? 0 : static_cast<std::size_t>(generator_() % bound);
}

bool ChaosPlan::percent(unsigned chance) { return below(100) < chance; }

bool ChaosPlan::disturbsLogin() { return percent(20); }

ChaosAct ChaosPlan::loginAct() { return pick(kLoginActs); }

ChaosAct ChaosPlan::nextAct()
{
    unsigned total = 0;
    for (const auto& entry : kActWeights)
        total += entry.weight;
    auto draw = static_cast<unsigned>(below(total));
    for (const auto& entry : kActWeights) {
        if (draw < entry.weight)
            return entry.act;
        draw -= entry.weight;
    }
    return ChaosAct::wrongTypes;
}

std::chrono::milliseconds ChaosPlan::pause() { return std::chrono::milliseconds(100 + below(400)); }

bool ChaosPlan::spoilsAnswer() { return percent(50); }

} // namespace vd::sim
