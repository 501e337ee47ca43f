#pragma once

namespace vd {
class VDTunnelInfo;
}

namespace vd::har {

// An entry's phases in milliseconds. The optional ones are -1 when the tunnel never reached
// them; send, wait and receive are never negative.
struct HarTimings {
    double blocked = -1;
    double dns = -1;
    double connect = -1;
    double ssl = -1;
    double send = 0;
    double wait = 0;
    double receive = 0;

    // The entry's "time": every known phase added up.
    double total() const;
};

// From the tunnel's time line. A stamp the tunnel never reached (0, or earlier than the one
// before it) leaves its phase unknown, and the next phase is measured from the last stamp that
// was reached. The proxy's own steps (getting ready, finding the rule) count as blocked. The
// service tells no byte-level times, so everything from the outbound connection being ready to
// the end of the tunnel is the wait for the answer; send and receive stay 0.
HarTimings harTimingsOf(const VDTunnelInfo& tunnel);

} // namespace vd::har
