#pragma once

// What the benchmarks of the processor set its time against: a report of active tunnels as it
// travels, and the bare limit of reading one, Base64 + simdjson with nothing built. Times are
// the calling thread's CPU time, so that other work on the machine weighs on both sides alike.

#include <pthread.h>
#include <time.h>

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "platform/Base64.h"

namespace vd::bench {

inline double threadCpu(pthread_t thread = pthread_self())
{
    clockid_t clock{};
    pthread_getcpuclockid(thread, &clock);
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A report of the active tunnels with these texts, as the service sends it.
inline Bytes currentTunnelsWire(nlohmann::ordered_json texts)
{
    QNComPacket report = QNComPacket::initWithId(1);
    report.setCmd(contract::numberOf(contract::Command::currentTunnels));
    report.setData(nlohmann::ordered_json::object({{"tunnels", std::move(texts)}}));
    return report.toData().value_or(Bytes());
}

// The bare limit: seconds per decode of the whole report, averaged over at least three rounds
// and `minimumSeconds`; 0 when the report does not decode.
inline double bareParseSeconds(const Bytes& wire, double minimumSeconds = 1.0)
{
    // The wire form ends in its two-byte terminator.
    const std::string_view text(reinterpret_cast<const char*>(wire.data()), wire.size() - 2);
    std::vector<std::uint8_t> json(base64::decodedSizeBound(text.size()) + simdjson::SIMDJSON_PADDING);
    simdjson::dom::parser parser;
    const double start = threadCpu();
    int rounds = 0;
    for (; rounds < 3 || threadCpu() - start < minimumSeconds; ++rounds) {
        const auto size = base64::decodeStrict(text, json.data());
        simdjson::dom::element root;
        if (!size || parser.parse(json.data(), *size, false).get(root))
            return 0;
    }
    return (threadCpu() - start) / rounds;
}

} // namespace vd::bench
