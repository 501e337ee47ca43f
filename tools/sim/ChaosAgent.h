#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "ChaosPlan.h"
#include "SimResponder.h"
#include "TrafficModel.h"
#include "link/QNComPacket.h"
#include "platform/Bytes.h"

namespace vd::sim {

// How a connection writes a piece of bytes.
struct WritePace {
    enum class Kind {
        whole,   // as fast as the socket takes it
        drip,    // the first `count` bytes one every 100 ms, then the rest
        cut,     // the first `count` bytes, then the connection closes
        endless, // again and again, until the connection ends
    };
    Kind kind = Kind::whole;
    std::size_t count = 0;
};

// What the chaos agent may do with its connection.
class ChaosLink {
public:
    virtual ~ChaosLink() = default;
    // Queues bytes behind what is already queued.
    virtual void writeChaos(Bytes bytes, WritePace pace) = 0;
    // Adds the connection number and writes the line to the packet log.
    virtual void logChaos(QNComPacket::Dictionary line) = 0;
};

// The chaos mode of one connection: acts against the client at moments its plan chooses, and
// spoils some answers. Every act is logged as {"conn":N,"chaos":name,"detail":{...}}, answers
// with "reply_to" naming the request; body and icon packets it sends are logged like the
// normal ones, as {"conn":N,"sent":packet}.
class ChaosAgent {
public:
    // The client is served normally this long after its login before the first act.
    static constexpr std::chrono::milliseconds kFirstActDelay{200};

    ChaosAgent(std::uint64_t seed, int connection, TrafficModel& model, SimResponder& responder);

    // Before the greeting: true when the agent took the greeting's place, writing it slowly,
    // cut, or not at all.
    bool disturbLogin(const Bytes& greeting, ChaosLink& link);
    // One act; then the time until the next.
    std::chrono::milliseconds act(ChaosLink& link);
    // May replace the replies to a request; only icon and body requests are spoiled.
    void answer(const QNComPacket& request, std::vector<Bytes>& replies, ChaosLink& link);

private:
    using Dictionary = QNComPacket::Dictionary;

    void perform(ChaosAct act, ChaosPlan& plan, Dictionary& detail, ChaosLink& link);
    // Writes a body or icon packet and logs it as sent.
    void sendStored(const Dictionary& packet, ChaosLink& link, WritePace pace = {}) const;
    Dictionary bodyPacket(std::int64_t id, contract::Command cmd, std::int64_t tunnel, const std::string& message) const;
    Dictionary iconPacket(std::int64_t id, const std::string& bundleId) const;
    Dictionary templatePacket(ChaosPlan& plan, Dictionary& detail);
    Dictionary recentTexts(std::int64_t count) const;
    // A tunnel id the client may know: one of the newest records'.
    std::int64_t someTunnelId(ChaosPlan& plan) const;

    ChaosPlan acts_;
    ChaosPlan answers_;
    TrafficModel& model_;
    SimResponder& responder_;
    std::int64_t nextFloodId_;
};

} // namespace vd::sim
