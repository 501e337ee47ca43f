#include "Interrupt.h"

#include <atomic>
#include <csignal>

namespace vd::ctl {
namespace {

// Written from a signal handler, so it has to be lock-free.
std::atomic<bool> raised{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onSignal(int)
{
    raised.store(true);
}

} // namespace

void installInterruptHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away (`vantorctl watch | head`) must show up as a failed write that
    // we can clean up after, not as a sudden death.
    std::signal(SIGPIPE, SIG_IGN);
}

bool interrupted()
{
    return raised.load();
}

} // namespace vd::ctl
