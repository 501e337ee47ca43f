#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "LinkWatch.h"
#include "Options.h"
#include "ScratchFolder.h"
#include "data/VDDataProcesser.h"
#include "platform/MainLoop.h"
#include "platform/NotificationCenter.h"

namespace vd::ctl {

// One processor logged in to one service, driven from the main loop: commands send through
// the processor and wait here for the notifications its replies cause. Every wait fails the
// command (by throwing Failure) when the link is lost or the service takes too long, and when
// the user interrupts.
class Session {
public:
    // `refreshEvery`: how often the processor polls the active list by itself; none keeps its
    // timer out of the way, so the only replies are answers to our own requests.
    Session(MainLoop& loop, const Options& options, std::optional<double> refreshEvery);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Returns once logged in.
    void connect();

    VDDataProcesser& processer() const { return *processer_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

    // Runs the main loop until `done` holds. `what` completes "no answer ... while waiting for".
    void waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, const std::string& what);
    // Runs the main loop until `done` holds, the time is up or the user interrupts; false
    // unless `done` held. Only a lost link throws.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Sends, then waits for the next post of `notification`.
    void request(const char* notification, const std::function<void()>& send, const std::string& what);
    // Sends, then waits until the service has answered everything sent so far. Needed for the
    // replies the processor handles without a notification (switches, closing, purging) and
    // for those that post nothing when empty (recent records): the service answers in order,
    // so once the DNS table asked for afterwards has arrived, so has every earlier answer.
    void roundTrip(const std::function<void()>& send, const std::string& what);

private:
    struct Link {
        std::mutex mutex;
        bool loggedIn = false;
        bool ended = false;
        std::optional<std::string> reason;
    };

    void throwIfLost() const;

    MainLoop& loop_;
    const Target target_;
    const std::chrono::milliseconds timeout_;
    LinkWatch watch_;
    ScratchFolder scratch_;
    std::shared_ptr<Link> link_ = std::make_shared<Link>();
    std::shared_ptr<VDDataProcesser> processer_;
};

// Starts the processor's link to the target's service, by the target's transport.
void startLink(VDDataProcesser& processer, const Target& target);

// Counts the posts of one notification from its making on, on the main thread (so the count
// follows every main-thread task posted before it, such as the body arrivals). `onPost` runs
// first, on the posting thread, where the processor's lists are exactly as the post announced.
class Arrivals {
public:
    explicit Arrivals(const char* notification, std::function<void()> onPost = {});
    std::size_t count() const { return *count_; }

private:
    std::shared_ptr<std::size_t> count_ = std::make_shared<std::size_t>(0);
    ObservationToken token_;
};

} // namespace vd::ctl
