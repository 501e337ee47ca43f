#include "TargetPoller.h"

#include <algorithm>

#include "../Session.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUDPTunnelInfo.h"

namespace vd::ctl {
namespace {

using Clock = std::chrono::steady_clock;

constexpr Seconds kPollEvery{1.0};
// The processor's own timer would ask again what we ask for: keep it out of the way.
constexpr Seconds kNever{365.0 * 24 * 3600};
// On a service met for the first time (or restarted), counting starts with its newest records,
// as many as the dashboard's recent list first shows.
constexpr std::int64_t kRecentBacklog = 100;
// Each poll asks only for records after the last one taken, so the ids remembered guard only
// against replies that overlap; the simulator, like the service, keeps 10,000 records.
constexpr std::size_t kEndedIdsRemembered = 10000;
// The DNS table changes slowly and can be long.
constexpr std::uint64_t kPollsPerDnsRequest = 5;

} // namespace

std::shared_ptr<TargetPoller> TargetPoller::start(NamedTarget target, std::chrono::milliseconds loginTimeout)
{
    auto poller = std::make_shared<TargetPoller>(std::move(target), loginTimeout);
    const std::weak_ptr<TargetPoller> weak = poller;
    poller->timer_ = Timer::create(poller->queue_, [weak] {
        if (const auto self = weak.lock())
            self->tick();
    });
    poller->timer_->schedule(Seconds(0), kPollEvery, kPollEvery / 10);
    return poller;
}

TargetPoller::TargetPoller(NamedTarget target, std::chrono::milliseconds loginTimeout)
    : target_(std::move(target)), loginTimeout_(loginTimeout), queue_(SerialQueue::create("VD.Export." + target_.name)),
      totals_(kEndedIdsRemembered), sample_(std::make_shared<const TargetSample>())
{
}

std::shared_ptr<const TargetSample> TargetPoller::sample() const
{
    std::lock_guard lock(sampleMutex_);
    return sample_;
}

void TargetPoller::stop(Task done)
{
    queue_->async([self = shared_from_this(), done = std::move(done)] {
        self->timer_->cancel();
        self->dropLink();
        done();
    });
}

void TargetPoller::tick()
{
    if (processer_) {
        bool loggedIn = false;
        bool ended = false;
        {
            std::lock_guard lock(link_->mutex);
            loggedIn = link_->loggedIn;
            ended = link_->ended;
        }
        if (!ended && loggedIn) {
            collect();
            request();
            publish(true);
            return;
        }
        if (!ended && Clock::now() - connectStarted_ < loginTimeout_) {
            publish(false);
            return;
        }
        dropLink();
        ++working_.scrapeErrors;
    }
    connect();
    publish(false);
}

void TargetPoller::connect()
{
    processer_ = VDDataProcesser::create();
    VDDataProcesser::TimerSettings timer;
    timer.firstFire = kNever;
    timer.interval = kNever;
    processer_->setTimerSettings(timer);
    link_ = std::make_shared<Link>();
    const std::weak_ptr<Link> weak = link_;
    processer_->setConnectCompleteBlock([weak](const std::optional<Error>&) {
        if (const auto link = weak.lock()) {
            std::lock_guard lock(link->mutex);
            link->loggedIn = true;
        }
    });
    processer_->setDisconnectBlock([weak](const std::optional<std::string>&) {
        if (const auto link = weak.lock()) {
            std::lock_guard lock(link->mutex);
            link->ended = true;
        }
    });
    connectStarted_ = Clock::now();
    startLink(*processer_, target_.target);
    // The UDP exchanges reported from now on tell which are open; what a lost link missed is
    // not known any more.
    openUdp_.clear();
    processer_->autoUDPRefresh(true);
}

void TargetPoller::dropLink()
{
    if (processer_)
        processer_->disconnect();
    processer_.reset();
    link_.reset();
}

void TargetPoller::collect()
{
    const double start = processer_->initTime();
    // Until the service has told its start time, its ids cannot be told from a previous
    // run's, so nothing is counted yet.
    if (start == 0)
        return;
    const TunnelList active = processer_->currentTunnelInfos();
    const TunnelList recent = processer_->takeRecentTunnelInfos();
    for (const auto& record : recent)
        recentCursor_ = std::max(recentCursor_, record->endId_());
    totals_.update(active, recent, start);
    working_.activeConnections = active.size();
    countUdp(processer_->takeUDPTunnelInfos());
    working_.dnsRecords = {};
    for (const auto& record : processer_->dnsInfos()) {
        const auto type = static_cast<std::size_t>(record.type) - static_cast<std::size_t>(DNSType::configured);
        if (type < working_.dnsRecords.size())
            ++working_.dnsRecords[type];
    }
}

void TargetPoller::request()
{
    processer_->refreshCurrentRecord();
    if (polls_++ % kPollsPerDnsRequest == 0)
        processer_->refreshDNSRecord();
    const double start = processer_->initTime();
    if (start == 0)
        return;
    if (start != cursorStart_) {
        cursorStart_ = start;
        recentCursor_ = -1;
    }
    if (recentCursor_ < 0)
        processer_->requestRecentRecordCount(kRecentBacklog);
    else
        processer_->requestRecentRecordFromId(recentCursor_);
}

void TargetPoller::countUdp(const UDPList& records)
{
    for (const auto& record : records) {
        if (record->status() != UDPStatus::active)
            openUdp_.erase(record->id_());
        else if (openUdp_.size() < VDDataProcesser::kMaxUDPRecords)
            openUdp_.insert(record->id_());
    }
    working_.udpSessions = openUdp_.size();
}

void TargetPoller::publish(bool up)
{
    working_.up = up;
    working_.traffic = totals_.counts();
    auto sample = std::make_shared<const TargetSample>(working_);
    std::lock_guard lock(sampleMutex_);
    sample_.swap(sample);
}

} // namespace vd::ctl
