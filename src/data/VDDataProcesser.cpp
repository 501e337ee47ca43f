#include "VDDataProcesser.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "VDICONImageManager.h"
#include "VDNotifications.h"
#include "VDTunnelInfo.h"
#include "VDUDPTunnelInfo.h"
#include "VDUtils.h"
#include "link/JsonValues.h"
#include "link/QNComClientManager.h"
#include "link/ServiceContract.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/Timer.h"
#include "platform/UserPaths.h"

namespace vd {
namespace {

using Dictionary = QNComPacket::Dictionary;
using contract::Command;

constexpr std::size_t kDumpIdLength = 6;
constexpr std::int64_t kRecentPageSize = 100;
constexpr std::int64_t kTicksPerRecentPoll = 5;
const char* const kBuiltInLocalAddresses[] = {"127.0.0.1", "localhost", "240.0.0.1", "::1"};

void post(const char* name)
{
    NotificationCenter::defaultCenter()->post(name);
}

const Dictionary* arrayMember(const Dictionary& data, const char* key)
{
    const auto* value = json::member(data, key);
    return value && value->is_array() ? value : nullptr;
}

// The records of a report's texts. `make` gives each text's record, or null for a text that
// makes none; each record is shown to `visit` at once, while it is still in the cache.
template <typename Make, typename Visit>
TunnelList recordsFrom(ReportTexts texts, Make&& make, Visit&& visit)
{
    TunnelList records;
    records.reserve(texts.size());
    for (const std::string_view text : texts) {
        if (auto record = make(text)) {
            visit(*record);
            records.push_back(std::move(record));
        }
    }
    return records;
}

// The record of one escaped report text, or null for one that makes none; `unreadable` is set
// for a text whose escapes JSON does not allow, which makes the whole packet unreadable: the
// texts after it are not read, so the packet is refused with one line.
std::shared_ptr<const VDTunnelInfo> recordOfText(std::string_view escaped, double initTime, bool& unreadable)
{
    thread_local std::string text;
    if (unreadable || !ReceivedPacket::unescapeText(escaped, text)) {
        unreadable = true;
        return nullptr;
    }
    return VDTunnelInfo::initWithReportText(escaped, text, initTime);
}

// The strings of a dictionary report's texts array, escaped as the wire would carry them.
std::vector<std::string> escapedTextsOf(const QNComPacket& packet)
{
    std::vector<std::string> texts;
    const Dictionary* data = packet.data();
    const Dictionary* array = data ? arrayMember(*data, ReceivedPacket::kTextsKey.data()) : nullptr;
    if (!array)
        return texts;
    for (const auto& text : *array) {
        if (text.is_string())
            texts.push_back(ReceivedPacket::escapeText(text.get_ref<const std::string&>()));
    }
    return texts;
}

bool isTunnelReport(Command cmd)
{
    switch (cmd) {
    case Command::currentTunnels:
    case Command::historyTunnels:
    case Command::currentTunnelsPush:
    case Command::currentTunnelsPushAlt: return true;
    default: return false;
    }
}

// Adds a name the set does not hold yet; one already there, the common case, is found without
// building a string.
template <typename Set>
bool insertNew(Set& set, std::string_view name)
{
    if (set.find(name) != set.end())
        return false;
    set.emplace(name);
    return true;
}

// The command of a packet; a "t" that is not a whole number counts as absent.
Command commandOf(const Dictionary* t)
{
    return Command{t && (t->is_number_integer() || t->is_number_unsigned()) ? json::toUInt64(t) : 0};
}

Command commandOf(const QNComPacket& packet)
{
    return commandOf(json::member(packet.dic(), "t"));
}

// What the debug line shows of data that may hold captured bodies, headers or images: the keys
// and how big each value is, never the content.
Dictionary outline(const Dictionary& data)
{
    Dictionary shape = Dictionary::object();
    for (auto it = data.begin(); it != data.end(); ++it) {
        const auto& value = it.value();
        if (value.is_string())
            shape[it.key()] = "<" + std::to_string(value.get_ref<const std::string&>().size()) + " bytes>";
        else if (value.is_array())
            shape[it.key()] = "<" + std::to_string(value.size()) + " items>";
        else if (value.is_object())
            shape[it.key()] = "<" + std::to_string(value.size()) + " keys>";
        else
            shape[it.key()] = value;
    }
    return shape;
}

bool isQuietCommand(Command cmd)
{
    switch (cmd) {
    case Command::currentTunnels:
    case Command::historyTunnels:
    case Command::dnsRecords:
    case Command::autoPushDNS:
    case Command::dnsRecordsPush:
    case Command::currentTunnelsPushAlt:
    case Command::udpRecordPush: return true;
    default: return false;
    }
}

bool showsOutlineOnly(Command cmd)
{
    switch (cmd) {
    case Command::icon:
    case Command::tunnelRequestData:
    case Command::tunnelResponseData:
    case Command::currentTunnelsPush: return true;
    default: return false;
    }
}

} // namespace

void VDDataProcesser::ClientLists::clear()
{
    local.clear();
    remote.clear();
    localNames.clear();
    remoteHosts.clear();
}

std::shared_ptr<VDDataProcesser> VDDataProcesser::create()
{
    std::shared_ptr<VDDataProcesser> processer(new VDDataProcesser());
    processer->installCallbacks();
    return processer;
}

VDDataProcesser::VDDataProcesser()
    : dumpId_(VDUtils::randomStringWithLength(kDumpIdLength)),
      dumpManager_(VDDumpDataManager::initWithSession(dumpId_)),
      clientManager_(QNComClientManager::create())
{
}

VDDataProcesser::~VDDataProcesser()
{
    stopTimer();
    clientManager_->stop();
}

void VDDataProcesser::installCallbacks()
{
    const std::weak_ptr<VDDataProcesser> weak = weak_from_this();
    clientManager_->setConnectCompleteBlock([weak] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->connectStatus_ = ConnectStatus::connected;
        self->startTimer();
        ConnectCompleteBlock block;
        {
            std::lock_guard lock(self->mutex_);
            block = self->connectCompleteBlock_;
        }
        if (block)
            block(std::nullopt);
    });
    clientManager_->setReceiveBlock([weak](ReceivedPacket& received) {
        if (const auto self = weak.lock())
            self->processReceived(received);
    });
    clientManager_->setDisconnectBlock([weak](const LinkEnd& end) {
        const auto self = weak.lock();
        if (!self)
            return;
        self->connectStatus_ = ConnectStatus::disconnected;
        // Nothing is polled on a dead link; the next login starts the timer again.
        self->stopTimer();
        DisconnectBlock block;
        {
            std::lock_guard lock(self->mutex_);
            block = self->disconnectBlock_;
        }
        if (block)
            block(end);
    });
}

void VDDataProcesser::setConnectCompleteBlock(ConnectCompleteBlock block)
{
    std::lock_guard lock(mutex_);
    connectCompleteBlock_ = std::move(block);
}

void VDDataProcesser::setDisconnectBlock(DisconnectBlock block)
{
    std::lock_guard lock(mutex_);
    disconnectBlock_ = std::move(block);
}

// --- connection ------------------------------------------------------------------------------

void VDDataProcesser::connectToLocal()
{
    connectToSocketPath(contract::localSocketPath(paths::home()).string());
}

void VDDataProcesser::connectToSocketPath(const std::string& path)
{
    connectStatus_ = ConnectStatus::connecting;
    localLink_ = true;
    clientManager_->startWithSocketPath(path);
}

void VDDataProcesser::connectToHost(const std::string& host, std::int64_t port, const std::string& password)
{
    connectStatus_ = ConnectStatus::connecting;
    localLink_ = false;
    // A port out of range would silently become another port once cut to 16 bits.
    if (!contract::kRemotePorts.contains(port))
        return refuseConnection(port);
    clientManager_->startWithHost(host, static_cast<std::uint16_t>(port), password);
}

void VDDataProcesser::connectToUSBPort(std::int64_t port, const std::string& password)
{
    connectStatus_ = ConnectStatus::connecting;
    localLink_ = false;
    if (!contract::kUSBPorts.contains(port))
        return refuseConnection(port);
    clientManager_->startWithUSBPort(port, password);
}

void VDDataProcesser::refuseConnection(std::int64_t port)
{
    log::error("Connect fail with error: invalid port " + std::to_string(port));
    connectStatus_ = ConnectStatus::disconnected;
    DisconnectBlock block;
    {
        std::lock_guard lock(mutex_);
        block = disconnectBlock_;
    }
    if (block)
        block({LinkEndCause::Unreachable, "Invalid port " + std::to_string(port)});
}

void VDDataProcesser::disconnect()
{
    connectStatus_ = ConnectStatus::disconnected;
    stopTimer();
    clientManager_->stop();
}

// --- lists and settings ----------------------------------------------------------------------

TunnelList VDDataProcesser::currentTunnelInfos() const
{
    std::lock_guard lock(mutex_);
    return curTuns_;
}

TunnelList VDDataProcesser::recentTunnelInfos() const
{
    std::lock_guard lock(mutex_);
    return recTuns_;
}

VDDataProcesser::ListSizes VDDataProcesser::listSizes() const
{
    std::lock_guard lock(mutex_);
    return {curTuns_.size(), recTuns_.size(), dnsIfs_.size(), udpIfs_.size()};
}

std::vector<VDDNSInfo> VDDataProcesser::dnsInfos() const
{
    std::lock_guard lock(mutex_);
    return dnsIfs_;
}

UDPList VDDataProcesser::udpTunnelInfos() const
{
    std::lock_guard lock(mutex_);
    return UDPList(udpIfs_.rbegin(), udpIfs_.rend());
}

TunnelList VDDataProcesser::takeRecentTunnelInfos()
{
    TunnelList taken;
    std::lock_guard lock(mutex_);
    taken.swap(recTuns_);
    recentIds_.clear();
    recent_.clear();
    generations_->bump(VDListGenerations::recent);
    return taken;
}

UDPList VDDataProcesser::takeUDPTunnelInfos()
{
    UDPList taken;
    std::lock_guard lock(mutex_);
    taken.swap(udpIfs_);
    generations_->bump(VDListGenerations::udp);
    return taken;
}

ProcessList VDDataProcesser::currentLocalProcess() const
{
    std::lock_guard lock(mutex_);
    return current_.local;
}

ProcessList VDDataProcesser::currentRemoteProcess() const
{
    std::lock_guard lock(mutex_);
    return current_.remote;
}

ProcessList VDDataProcesser::recentLocalProcess() const
{
    std::lock_guard lock(mutex_);
    return recent_.local;
}

ProcessList VDDataProcesser::recentRemoteProcess() const
{
    std::lock_guard lock(mutex_);
    return recent_.remote;
}

std::string VDDataProcesser::filterString() const
{
    std::lock_guard lock(mutex_);
    return filterString_;
}

void VDDataProcesser::setFilterString(std::string text)
{
    {
        std::lock_guard lock(mutex_);
        filterString_ = std::move(text);
        generations_->bump(VDListGenerations::filters);
    }
    post(kVDFilterStringChanged);
}

std::string VDDataProcesser::currentFilterBundleId() const
{
    std::lock_guard lock(mutex_);
    return currentFilterBundleId_;
}

void VDDataProcesser::setCurrentFilterBundleId(std::string bundleId)
{
    std::lock_guard lock(mutex_);
    currentFilterBundleId_ = std::move(bundleId);
    generations_->bump(VDListGenerations::filters);
}

std::string VDDataProcesser::recentFilterBundleId() const
{
    std::lock_guard lock(mutex_);
    return recentFilterBundleId_;
}

void VDDataProcesser::setRecentFilterBundleId(std::string bundleId)
{
    std::lock_guard lock(mutex_);
    recentFilterBundleId_ = std::move(bundleId);
    generations_->bump(VDListGenerations::filters);
}

bool VDDataProcesser::mitmEnabled() const
{
    std::lock_guard lock(mutex_);
    return mitmEnabled_;
}

void VDDataProcesser::setMitmEnabled(bool on) { clientManager_->changeMitMEnable(on); }

bool VDDataProcesser::recorderEnabled() const
{
    std::lock_guard lock(mutex_);
    return recorderEnabled_;
}

void VDDataProcesser::setRecorderEnabled(bool on) { clientManager_->changeTrafficRecord(on); }

double VDDataProcesser::initTime() const
{
    std::lock_guard lock(mutex_);
    return initTime_;
}

std::int64_t VDDataProcesser::lastRecentId() const
{
    std::lock_guard lock(mutex_);
    return recLstId_;
}

// --- commands --------------------------------------------------------------------------------

void VDDataProcesser::refreshCurrentRecord() { clientManager_->requestCurrentTunnels(); }
void VDDataProcesser::autoTunnelRefresh(bool on) { clientManager_->changeAutoPushTunnel(on); }
void VDDataProcesser::autoDNSRefresh(bool on) { clientManager_->changeAutoPushDNS(on); }
void VDDataProcesser::autoUDPRefresh(bool on) { clientManager_->changeAutoPushUDP(on); }
void VDDataProcesser::requestRecentRecordCount(std::int64_t count) { clientManager_->requestHistoryTunnelLastCount(count); }

void VDDataProcesser::requestRecentRecordFromIdCount(std::int64_t firstId, std::int64_t count)
{
    clientManager_->requestHistoryTunnelStartIdCount(firstId, count);
}

void VDDataProcesser::requestRecentRecordFromId(std::int64_t firstId) { clientManager_->requestHistoryTunnelStartId(firstId); }
void VDDataProcesser::requestCloseTunnel(std::int64_t tunnelId) { clientManager_->closeTunnel(tunnelId); }
void VDDataProcesser::getTunnelRequestData(std::int64_t tunnelId) { clientManager_->getTunnelRequestData(tunnelId); }
void VDDataProcesser::getTunnelResponseData(std::int64_t tunnelId) { clientManager_->getTunnelResponseData(tunnelId); }
void VDDataProcesser::refreshDNSRecord() { clientManager_->requestDNSRecords(); }
void VDDataProcesser::purgeDNSRecord() { clientManager_->purgeDNSRecords(); }
void VDDataProcesser::removeDNSRecordOfDomain(const std::string& domain) { clientManager_->removeDNSRecordOfDomain(domain); }

void VDDataProcesser::cleanRecentRecord()
{
    {
        std::lock_guard lock(mutex_);
        recTuns_.clear();
        recentIds_.clear();
        recent_.clear();
        generations_->bump(VDListGenerations::recent);
    }
    post(kVDRecentTunnelRefreshed);
}

void VDDataProcesser::reloadRecentRecord()
{
    const std::int64_t last = lastRecentId();
    if (last == -1)
        requestRecentRecordCount(kRecentPageSize);
    else
        requestRecentRecordFromIdCount(last, kRecentPageSize);
}

void VDDataProcesser::cleanUDPRecord()
{
    std::lock_guard lock(mutex_);
    udpIfs_.clear();
    generations_->bump(VDListGenerations::udp);
}

void VDDataProcesser::getDumpDataOfTunnel(const VDTunnelInfo& tunnel, bool direct, VDDumpDataManager::Completion complete)
{
    const std::int64_t id = tunnel.id_();
    if (tunnel.status() == TunnelStatus::completed) {
        const std::weak_ptr<VDDataProcesser> weak = weak_from_this();
        dumpManager_->readDataForRecord(id, direct, [weak, id, direct, complete = std::move(complete)](std::optional<Bytes>&& data) {
            if (data) {
                if (complete)
                    complete(std::move(data));
                return;
            }
            if (const auto self = weak.lock())
                direct ? self->getTunnelRequestData(id) : self->getTunnelResponseData(id);
        });
        return;
    }
    direct ? getTunnelRequestData(id) : getTunnelResponseData(id);
    dumpManager_->readDataForRecord(id, direct, std::move(complete));
}

// --- timer -----------------------------------------------------------------------------------

void VDDataProcesser::setTimerSettings(const TimerSettings& settings)
{
    std::lock_guard lock(mutex_);
    timerSettings_ = settings;
}

void VDDataProcesser::startTimer()
{
    const std::weak_ptr<VDDataProcesser> weak = weak_from_this();
    auto timer = Timer::create(globalQueue(), [weak] {
        if (const auto self = weak.lock())
            self->timerFired();
    });
    std::shared_ptr<Timer> previous;
    TimerSettings settings;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(timer_, timer);
        settings = timerSettings_;
    }
    if (previous)
        previous->cancel();
    timer->schedule(settings.firstFire, settings.interval, settings.leeway);
}

void VDDataProcesser::stopTimer()
{
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(mutex_);
        timer = std::move(timer_);
        timer_.reset();
    }
    if (timer)
        timer->cancel();
}

void VDDataProcesser::timerFired()
{
    refreshCurrentRecord();
    std::int64_t last = -1;
    Seconds delay{};
    {
        std::lock_guard lock(mutex_);
        if (recRefreshCount_++ < kTicksPerRecentPoll - 1)
            return;
        recRefreshCount_ = 0;
        last = recLstId_;
        delay = timerSettings_.recentDelay;
    }
    if (last == -1)
        return;
    const std::weak_ptr<VDDataProcesser> weak = weak_from_this();
    asyncAfter(globalQueue(), delay, [weak, last] {
        if (const auto self = weak.lock())
            self->requestRecentRecordFromId(last);
    });
}

// --- packets ---------------------------------------------------------------------------------

void VDDataProcesser::processReceived(ReceivedPacket& received)
{
    // Reports are most of what a busy service sends, and nearly all of a report is its record
    // texts: those are read from the received packet as it carries them, not copied into a
    // dictionary first.
    if (isTunnelReport(commandOf(received.withoutTexts())))
        handlePacket(received.withoutTexts(), received.texts());
    else if (auto packet = received.takePacket())
        handlePacket(std::move(*packet), {});
}

void VDDataProcesser::processPacket(QNComPacket packet)
{
    if (!isTunnelReport(commandOf(packet)))
        return handlePacket(std::move(packet), {});
    const std::vector<std::string> texts = escapedTextsOf(packet);
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    handlePacket(std::move(packet), views);
}

void VDDataProcesser::handlePacket(QNComPacket packet, ReportTexts texts)
{
    Dictionary* data = packet.data();
    if (packet.code() == contract::kCodeSuccess && data) {
        switch (commandOf(packet)) {
        case Command::info: serviceInfo(*data); break;
        case Command::currentTunnels:
        case Command::currentTunnelsPush:
        case Command::currentTunnelsPushAlt:
            if (!currentTunnels(*data, texts))
                return;
            break;
        case Command::historyTunnels:
            if (!recentTunnels(*data, texts))
                return;
            break;
        case Command::trafficRecord: switchReply(*data, false); break;
        case Command::mitmEnable: switchReply(*data, true); break;
        case Command::dnsRecords:
        case Command::dnsRecordsPush: dnsRecords(*data); break;
        case Command::icon: iconReply(*data); break;
        case Command::tunnelRequestData: bodyData(*data, true); break;
        case Command::tunnelResponseData: bodyData(*data, false); break;
        case Command::udpRecordPush: udpRecord(*data); break;
        default: break;
        }
    }
    logPacket(packet);
}

void VDDataProcesser::logPacket(const QNComPacket& packet) const
{
    const std::uint64_t cmd = packet.cmd();
    if (isQuietCommand(Command{cmd}))
        return;
    std::string content;
    if (const Dictionary* data = packet.data())
        content = (showsOutlineOnly(Command{cmd}) ? outline(*data) : *data).dump(-1, ' ', false, Dictionary::error_handler_t::replace);
    else
        content = packet.message().value_or("(null)");
    const std::string rule(42, '=');
    log::debug("\n" + rule + "\n" + std::string(18, ' ') + "[" + std::to_string(packet.id_()) + "](" +
               std::to_string(packet.code()) + "){" + std::to_string(packet.oriDataLength()) + "}|" + std::to_string(cmd) +
               "|: " + content + "\n" + rule + "\n");
}

void VDDataProcesser::serviceInfo(const Dictionary& data)
{
    const auto* icon = json::member(data, "icon");
    // The service's own icon folder is on its computer: only a local link can share it.
    if (icon && icon->is_string() && !icon->get_ref<const std::string&>().empty() && localLink_)
        VDICONImageManager::sharedInstance()->setIconFolderPath(icon->get<std::string>());

    auto addresses = std::make_shared<std::vector<std::string>>(std::begin(kBuiltInLocalAddresses), std::end(kBuiltInLocalAddresses));
    if (const auto* extra = arrayMember(data, "local_address")) {
        for (const auto& address : *extra) {
            if (address.is_string())
                addresses->push_back(address.get<std::string>());
        }
    }
    {
        std::lock_guard lock(mutex_);
        initTime_ = json::toDouble(json::member(data, "service_start_time"));
        mitmEnabled_ = json::toInt64(json::member(data, "mitm_enable")) != 0;
        recorderEnabled_ = json::toInt64(json::member(data, "record_traffic")) != 0;
        localIPs_ = std::move(addresses);
    }
    post(kVDServiceInfoRefreshed);
}

void VDDataProcesser::extractClient(const VDTunnelInfo& tunnel, const LocalAddresses& localIPs, ClientLists& lists,
                                   BundleIdSet& bundleIds)
{
    // Most tunnels belong to a client already listed: look the client up by its key before
    // building its entry.
    const std::string_view fromHost = tunnel.fromHost();
    const bool local = localIPs && std::find(localIPs->begin(), localIPs->end(), fromHost) != localIPs->end();
    if (!local) {
        if (!insertNew(lists.remoteHosts, fromHost))
            return;
        VDProcessInfo client = tunnel.processInfo();
        client._localIPs = localIPs;
        client.processName = client.fromHost;
        lists.remote.push_back(std::move(client));
        return;
    }
    const std::string_view bundleId = tunnel.bundleIdentifier();
    if (!bundleId.empty())
        insertNew(bundleIds, bundleId);
    const std::string_view name = bundleId.empty() ? std::string_view("Local") : tunnel.processName();
    if (!insertNew(lists.localNames, name))
        return;
    VDProcessInfo client = tunnel.processInfo();
    client._localIPs = localIPs;
    client.processName = std::string(name);
    lists.local.push_back(std::move(client));
}

void VDDataProcesser::sortClients(ClientLists& lists)
{
    const auto order = [](const VDProcessInfo& a, const VDProcessInfo& b) {
        if (a.processName != b.processName)
            return a.processName > b.processName;
        return a.processId > b.processId;
    };
    std::stable_sort(lists.local.begin(), lists.local.end(), order);
    std::stable_sort(lists.remote.begin(), lists.remote.end(), order);
}

bool VDDataProcesser::currentTunnels(const Dictionary& data, ReportTexts texts)
{
    LocalAddresses localIPs;
    double initTime = 0;
    {
        std::lock_guard lock(mutex_);
        localIPs = localIPs_;
        initTime = initTime_;
    }
    TunnelList tunnels;
    ClientLists clients;
    BundleIdSet bundleIds;
    {
        // One report at a time is matched against the one before it and stored after it, so
        // the next report is matched against what the list holds.
        std::lock_guard reportLock(reportMutex_);
        unchanged_.beginReport(initTime);
        bool unreadable = false;
        if (arrayMember(data, ReceivedPacket::kTextsKey.data())) {
            const UnchangedRecords::Make parse = [&](std::string_view text) { return recordOfText(text, initTime, unreadable); };
            const auto make = [&](std::string_view text) { return unchanged_.recordOf(text, parse); };
            tunnels = recordsFrom(texts, make, [&](const VDTunnelInfo& tunnel) {
                extractClient(tunnel, localIPs, clients, bundleIds);
            });
        }
        if (unreadable) {
            unchanged_.abandonReport();
            return false;
        }
        unchanged_.endReport();
        sortClients(clients);
        std::lock_guard lock(mutex_);
        // The previous report's records go when `tunnels` does, after the locks: readers
        // taking a copy do not wait for thousands of records to be freed.
        std::swap(curTuns_, tunnels);
        current_ = std::move(clients);
        ++activeReports_;
        generations_->bump(VDListGenerations::current);
    }
    requestMissingIcons(bundleIds);
    post(kVDCurrentTunnelRefreshed);
    return true;
}

bool VDDataProcesser::recentTunnels(const Dictionary& data, ReportTexts texts)
{
    const auto* array = arrayMember(data, ReceivedPacket::kTextsKey.data());
    if (!array || array->empty())
        return true;
    const double start = initTime();
    bool unreadable = false;
    TunnelList received = recordsFrom(
        texts, [&](std::string_view text) { return recordOfText(text, start, unreadable); }, [](const VDTunnelInfo&) {});
    if (unreadable)
        return false;
    BundleIdSet bundleIds;
    {
        std::lock_guard lock(mutex_);
        mergeRecentLocked(std::move(received), bundleIds);
        trimRecentLocked(bundleIds);
        sortClients(recent_);
        generations_->bump(VDListGenerations::recent);
    }
    requestMissingIcons(bundleIds);
    post(kVDRecentTunnelRefreshed);
    return true;
}

void VDDataProcesser::mergeRecentLocked(TunnelList received, BundleIdSet& bundleIds)
{
    VD_ASSERT_HELD(mutex_);
    const auto firstNew = static_cast<std::ptrdiff_t>(recTuns_.size());
    for (auto& tunnel : received) {
        if (!recentIds_.insert(tunnel->id_()).second)
            continue;
        recLstId_ = std::max(recLstId_, tunnel->endId_());
        extractClient(*tunnel, localIPs_, recent_, bundleIds);
        recTuns_.push_back(std::move(tunnel));
    }
    // The held part is sorted already: sorting the newcomers and merging keeps each reply
    // linear in the list's length.
    const auto byId = [](const auto& a, const auto& b) { return a->id_() < b->id_(); };
    std::stable_sort(recTuns_.begin() + firstNew, recTuns_.end(), byId);
    std::inplace_merge(recTuns_.begin(), recTuns_.begin() + firstNew, recTuns_.end(), byId);
}

void VDDataProcesser::trimRecentLocked(BundleIdSet& bundleIds)
{
    VD_ASSERT_HELD(mutex_);
    // Trimmed a tenth below the cap at a time, so the client lists are rebuilt once per
    // thousands of records rather than on every reply.
    if (recTuns_.size() <= kMaxRecentRecords)
        return;
    const auto dropped = static_cast<std::ptrdiff_t>(recTuns_.size() - kMaxRecentRecords + kMaxRecentRecords / 10);
    for (auto it = recTuns_.begin(); it != recTuns_.begin() + dropped; ++it)
        recentIds_.erase((*it)->id_());
    recTuns_.erase(recTuns_.begin(), recTuns_.begin() + dropped);
    recent_.clear();
    for (const auto& tunnel : recTuns_)
        extractClient(*tunnel, localIPs_, recent_, bundleIds);
}

void VDDataProcesser::requestMissingIcons(const BundleIdSet& bundleIds)
{
    // Looking for an icon may touch the disk: once per app and report, and never while the
    // views wait for the lists.
    const auto icons = VDICONImageManager::sharedInstance();
    for (const auto& bundleId : bundleIds) {
        if (!icons->bundleIdHasIcon(bundleId))
            clientManager_->requestIcon(bundleId);
    }
}

void VDDataProcesser::switchReply(const Dictionary& data, bool mitm)
{
    const auto* c = json::member(data, "c");
    std::lock_guard lock(mutex_);
    bool& state = mitm ? mitmEnabled_ : recorderEnabled_;
    state = c && (c->is_boolean() || c->is_number()) ? json::toInt64(c) != 0 : !state;
}

void VDDataProcesser::dnsRecords(const Dictionary& data)
{
    std::vector<VDDNSInfo> records;
    const auto take = [&](const char* key, DNSType type) {
        if (const auto* entries = arrayMember(data, key)) {
            for (const auto& entry : *entries) {
                if (entry.is_object())
                    records.push_back(VDDNSInfo::initWithDictionary(entry, type));
            }
        }
    };
    take("host_file", DNSType::hostsFile);
    take("host_config", DNSType::configured);
    take("record", DNSType::dynamic);
    {
        std::lock_guard lock(mutex_);
        dnsIfs_ = std::move(records);
        generations_->bump(VDListGenerations::dns);
    }
    post(kVDDNSRefreshed);
}

void VDDataProcesser::udpRecord(Dictionary& data)
{
    auto* text = const_cast<Dictionary*>(json::member(data, "tunnel_info"));
    if (!text || !text->is_string())
        return;
    auto record = VDUDPTunnelInfo::initWithJSONString(std::move(text->get_ref<std::string&>()), initTime());
    if (!record)
        return;
    {
        std::lock_guard lock(mutex_);
        storeUDPLocked(std::move(record));
        generations_->bump(VDListGenerations::udp);
    }
    post(kVDUDPRefreshed);
}

void VDDataProcesser::storeUDPLocked(std::shared_ptr<const VDUDPTunnelInfo> record)
{
    VD_ASSERT_HELD(mutex_);
    const auto same = std::find_if(udpIfs_.begin(), udpIfs_.end(), [&](const auto& held) { return held->id_() == record->id_(); });
    if (same != udpIfs_.end()) {
        *same = std::move(record);
        return;
    }
    udpIfs_.push_back(std::move(record));
    if (udpIfs_.size() > kMaxUDPRecords)
        udpIfs_.erase(udpIfs_.begin());
}

void VDDataProcesser::iconReply(const Dictionary& data)
{
    const auto* icons = json::member(data, "icon");
    if (!icons || !icons->is_object() || icons->empty())
        return;
    const auto first = icons->begin();
    if (first.value().is_string())
        VDICONImageManager::sharedInstance()->writeBundleId(first.key(), first.value().get<std::string>());
}

void VDDataProcesser::bodyData(const Dictionary& data, bool request)
{
    const auto* tunnelId = json::member(data, "tunnel_id");
    // The id names a file: only a real number will do.
    if (!tunnelId || !(tunnelId->is_number_integer() || tunnelId->is_number_unsigned()))
        return;
    const std::int64_t id = json::toInt64(tunnelId);
    Bytes body;
    if (const auto* text = json::member(data, "data"); text && text->is_string()) {
        if (auto decoded = VDUtils::base64DecodeData(text->get_ref<const std::string&>(), false))
            body = std::move(*decoded);
    }
    if (request)
        dumpManager_->storeRequestData(std::move(body), id);
    else
        dumpManager_->storeResponseData(std::move(body), id);
    const std::weak_ptr<VDDataProcesser> weak = weak_from_this();
    MainQueue::shared()->async([weak, id, request] {
        if (const auto self = weak.lock())
            NotificationCenter::defaultCenter()->post(request ? kDumpRequestReceive : kDumpResponseReceive, nullptr,
                                                      VDBodyArrival{self->dumpManager_.get(), id});
    });
}

} // namespace vd
