#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vd {

// Which change of each of a processor's lists is the newest, readable from any thread without
// the processor's lock. The refresh notifications name no sender, so every window hears every
// processor's reports; a view compares these with what it last showed and leaves alone what
// another window's processor changed.
//
// Every change takes its stamp from one count for the whole process. A stamp is thus never
// reused, not even by a processor bound later under the same window id, and the newest stamp
// of several parts changes whenever any one of them does: a single number tells a view whether
// anything it shows has changed.
class VDListGenerations {
public:
    enum Part : std::size_t {
        current,  // the active tunnels and their clients
        recent,   // the recent tunnels and their clients
        dns,
        udp,
        filters,  // the filter text and both client filters
    };
    static constexpr std::size_t kPartCount = 5;

    // The stamp of a part that has not changed since its processor was made.
    static constexpr std::uint64_t kUnchanged = 0;

    // The newest stamp among `parts`.
    std::uint64_t newest(std::span<const Part> parts) const;
    // After `part` changed. Called with its processor's lock held, so that the changes of one
    // processor take their stamps in the order they were made, and a reader that sees a stamp
    // and then takes the lock sees every change stamped up to it.
    void bump(Part part);

private:
    std::array<std::atomic<std::uint64_t>, kPartCount> stamps_{};
};

} // namespace vd
