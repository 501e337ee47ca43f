#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TrafficModel.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "platform/Bytes.h"

namespace vd::sim {

// Bodies and icons: what a client keeps in files, so the log holds each one that goes out.
bool carriesStoredContent(contract::Command cmd);

// What one logged-in client has asked of the service.
struct ClientState {
    bool pushTunnels = false;
    bool pushDNS = false;
    bool pushUDP = false;
    // The id of the last packet taken from this client: ids must keep rising.
    std::optional<std::int64_t> lastId;
};

// The service's side of every request after login: checks that the request is well formed,
// carries it out on the traffic model, and writes the reply. One per service, shared by its
// connections, all on the simulator's thread.
class SimResponder {
public:
    SimResponder(TrafficModel& model, double startTime);

    // The unasked service information sent right after a login.
    QNComPacket serviceInfo() const;

    struct Outcome {
        std::vector<Bytes> replies;
        // Set when the client broke the contract; the request was then not carried out,
        // except when only its id was out of order.
        std::optional<std::string> protocolError;
        // The command changed the DNS table, which clients with the DNS push on should see.
        bool dnsChanged = false;
    };
    Outcome reply(const QNComPacket& request, ClientState& client);

    // The pushed reports: current tunnels, the DNS table, one UDP record.
    Bytes tunnelPush();
    Bytes dnsPush() const;
    static Bytes udpPush(const std::string& text);

private:
    using Dictionary = QNComPacket::Dictionary;

    // How a request is answered: its reply, or its refusal.
    struct Answer {
        std::int64_t id;
        contract::Command cmd;
        Outcome with(Bytes reply, bool dnsChanged = false) const;
        Outcome ok(Dictionary body, bool dnsChanged = false) const;
        Outcome refuse(const std::string& message) const;
        // A refusal that also names the broken contract.
        Outcome malformed(const std::string& what) const;
    };

    // A well-formed request of a known command, carried out.
    Outcome carryOut(std::int64_t id, contract::Command cmd, const QNComPacket& request, ClientState& client);
    Outcome changeMode(const Answer& to, const Dictionary* data);
    Outcome recentRecords(const Answer& to, const Dictionary* data);
    // Traffic recording and MitM.
    Outcome switchCapture(const Answer& to, const Dictionary* data);
    // The client's tunnel, DNS and UDP pushes.
    Outcome switchPush(const Answer& to, const Dictionary* data, ClientState& client);
    Outcome removeDns(const Answer& to, const Dictionary* data);
    Outcome closeTunnel(const Answer& to, const Dictionary* data);
    Outcome icon(const Answer& to, const Dictionary* data);
    Outcome capturedBody(const Answer& to, const Dictionary* data);

    TrafficModel& model_;
    double startTime_;
    std::int64_t mode_ = 0;
};

} // namespace vd::sim
