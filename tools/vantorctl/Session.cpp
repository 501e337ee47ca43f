#include "Session.h"

#include <cmath>

#include "ExitCodes.h"
#include "Interrupt.h"
#include "data/VDNotifications.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Numbers.h"

namespace vd::ctl {
namespace {

using namespace std::chrono_literals;

// Far enough out that a one-shot command never sees the processor poll on its own.
constexpr double kNeverSeconds = 365.0 * 24 * 3600;
// Queued file work of the dump store finishes long before this; it only guards the exit.
constexpr auto kFlushLimit = 5s;

std::string secondsText(std::chrono::milliseconds duration)
{
    return numbers::general(static_cast<double>(duration.count()) / 1000) + " s";
}

} // namespace

Arrivals::Arrivals(const char* notification, std::function<void()> onPost)
{
    token_ = NotificationCenter::defaultCenter()->addObserver(
        notification, nullptr, [count = count_, onPost = std::move(onPost)](const Notification&) {
            if (onPost)
                onPost();
            // Posting also wakes the main loop at once.
            MainQueue::shared()->async([count] { ++*count; });
        });
}

Session::Session(MainLoop& loop, const Options& options, std::optional<double> refreshEvery)
    : loop_(loop), target_(options.target),
      timeout_(std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(options.timeoutSeconds * 1000)))),
      watch_(options.verbose)
{
    keepDataStoresIn(scratch_);
    processer_ = VDDataProcesser::create();
    VDDataProcesser::TimerSettings timer;
    const double every = refreshEvery.value_or(kNeverSeconds);
    timer.firstFire = Seconds(every);
    timer.interval = Seconds(every);
    timer.leeway = Seconds(every / 10);
    processer_->setTimerSettings(timer);

    const std::weak_ptr<Link> weak = link_;
    processer_->setConnectCompleteBlock([weak](const std::optional<Error>&) {
        if (const auto link = weak.lock()) {
            std::lock_guard lock(link->mutex);
            link->loggedIn = true;
        }
        MainQueue::shared()->async([] {});
    });
    processer_->setDisconnectBlock([weak](const std::optional<std::string>& reason) {
        if (const auto link = weak.lock()) {
            std::lock_guard lock(link->mutex);
            if (!link->ended) {
                link->ended = true;
                link->reason = reason;
            }
        }
        MainQueue::shared()->async([] {});
    });
}

Session::~Session()
{
    // Once disconnected no callback runs any more; then the dump store's queue is drained (a
    // read queued now runs after every earlier store) so no file work outlives the folder.
    processer_->disconnect();
    auto flushed = std::make_shared<bool>(false);
    processer_->dumpManager()->readDataForRecord(0, true, [flushed](std::optional<Bytes>) { *flushed = true; });
    loop_.runUntil([&] { return *flushed; }, kFlushLimit);
    processer_.reset();
}

void startLink(VDDataProcesser& processer, const Target& target)
{
    if (target.usbPort)
        processer.connectToUSBPort(*target.usbPort, target.password);
    else if (target.host.empty())
        processer.connectToSocketPath(target.socketPath);
    else
        processer.connectToHost(target.host, target.port, target.password);
}

void Session::connect()
{
    startLink(*processer_, target_);

    bool loggedIn = false;
    bool ended = false;
    std::optional<std::string> reason;
    const auto settled = [&] {
        std::lock_guard lock(link_->mutex);
        loggedIn = link_->loggedIn;
        ended = link_->ended;
        reason = link_->reason;
        return loggedIn || ended || watch_.startFailure() || interrupted();
    };
    loop_.runUntil(settled, timeout_);
    settled();

    if (loggedIn)
        return;
    if (interrupted())
        throw Failure(kExitInterrupted, "");
    const std::string where = target_.describe();
    if (ended) {
        if (watch_.refusal())
            throw Failure(kExitAuthentication, "authentication failed at " + where + ": " + reason.value_or("refused"));
        throw Failure(kExitConnection, "cannot connect to " + where + ": " + reason.value_or("the service closed the connection"));
    }
    if (const auto failure = watch_.startFailure())
        throw Failure(kExitConnection, "cannot connect to " + where + ": " + *failure);
    if (watch_.transportUp())
        throw Failure(kExitNoAnswer, "no answer from " + where + " within " + secondsText(timeout_) + " while logging in");
    throw Failure(kExitConnection, "cannot connect to " + where + ": no connection within " + secondsText(timeout_));
}

void Session::throwIfLost() const
{
    std::lock_guard lock(link_->mutex);
    if (link_->ended)
        throw Failure(kExitConnection, "lost the connection to " + target_.describe() + ": " +
                                           link_->reason.value_or("the service closed the connection"));
}

bool Session::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto lost = [this] {
        std::lock_guard lock(link_->mutex);
        return link_->ended;
    };
    loop_.runUntil([&] { return done() || lost() || interrupted(); }, limit);
    // A reply and the end of the link may come together: what was asked for counts first.
    if (done())
        return true;
    throwIfLost();
    return false;
}

void Session::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, const std::string& what)
{
    if (runUntil(done, limit))
        return;
    if (interrupted())
        throw Failure(kExitInterrupted, "");
    throw Failure(kExitNoAnswer, "no answer from " + target_.describe() + " within " + secondsText(limit) +
                                     " while waiting for " + what);
}

void Session::request(const char* notification, const std::function<void()>& send, const std::string& what)
{
    const Arrivals arrivals(notification);
    send();
    waitUntil([&] { return arrivals.count() > 0; }, timeout_, what);
}

void Session::roundTrip(const std::function<void()>& send, const std::string& what)
{
    const Arrivals barrier(kVDDNSRefreshed);
    send();
    processer_->refreshDNSRecord();
    waitUntil([&] { return barrier.count() > 0; }, timeout_, what);
}

} // namespace vd::ctl
