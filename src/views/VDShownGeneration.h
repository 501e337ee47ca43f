#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "data/VDListGenerations.h"

namespace vd {

// Which generation of its window's processor's lists a view last showed. A reload with nothing
// new returns before copying anything, and the view's observer, which hears every window's
// refreshes, asks on the posting thread whether the view is behind at all before it queues a
// reload.
//
// Why a skipped reload is never a missed one: a reload reads the generation first and copies
// the lists after, so what it shows is at least as new as the generation it records; a list
// changes, under the processor's lock, before its new stamp is stored and before the refresh is
// posted, so a check made after that post sees the new stamp, which only a reload that copied
// the change can have recorded.
class VDShownGeneration {
public:
    using Part = VDListGenerations::Part;

    VDShownGeneration(std::string idString, std::initializer_list<Part> parts);

    // From any thread: nothing the view reads changed since it last showed it. A window
    // without a processor counts as one whose lists never changed.
    bool isCurrent() const;
    // On the GUI thread, before a reload copies anything: the generation it is about to show,
    // or none when that is shown already.
    std::optional<std::uint64_t> behind() const;
    // After the reload published what it copied.
    void shown(std::uint64_t generation) { shown_.store(generation, std::memory_order_release); }
    // The view let its rows go, or a setting of its own changed: the next reload runs.
    void forget() { shown_.store(kNothingShown, std::memory_order_release); }

private:
    static constexpr std::uint64_t kNothingShown = UINT64_MAX;

    std::uint64_t newest() const;

    const std::string idString_;
    const std::vector<Part> parts_;
    std::atomic<std::uint64_t> shown_{kNothingShown};
};

} // namespace vd
