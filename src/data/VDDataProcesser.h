#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "UnchangedRecords.h"
#include "VDDNSInfo.h"
#include "VDDumpDataManager.h"
#include "VDListGenerations.h"
#include "VDProcessInfo.h"
#include "VDRecordLists.h"
#include "link/LinkEnd.h"
#include "platform/Error.h"
#include "platform/Seconds.h"
#include "platform/ThreadCheck.h"

namespace vd {

// Only named here: the views that read a processor's lists need neither the link nor the
// parsers behind it.
class QNComClientManager;
class QNComPacket;
class ReceivedPacket;
// A report's record texts, each escaped as the inside of a JSON string.
using ReportTexts = std::span<const std::string_view>;
class Timer;

// Where a processor's link stands: connecting from every connect call on, connected once the
// login succeeded, disconnected when the link ended or was ended.
enum class ConnectStatus : std::uint64_t {
    connecting = 0,
    connected = 1,
    disconnected = 2,
};

// The data side of one main window: owns the link to one service, turns every packet into
// records, keeps the lists the views show, and tells the views when a list changed.
//
// Packets are handled on the link's queue; the views copy lists from the main thread. One
// mutex guards the lists, and every list is handed out as a whole copy of shared immutable
// records.
class VDDataProcesser : public std::enable_shared_from_this<VDDataProcesser> {
public:
    using ConnectCompleteBlock = std::function<void(const std::optional<Error>&)>;
    using DisconnectBlock = std::function<void(const LinkEnd&)>;

    // The UDP list keeps this many of the newest exchanges: a service pushing fresh ones without
    // end must not grow it (and the search for a record to replace) without bound.
    static constexpr std::size_t kMaxUDPRecords = 10000;
    // The recent list keeps this many of the newest records (by id). A busy service closes a
    // hundred connections a second, and a window left open for hours must not hold them all.
    static constexpr std::size_t kMaxRecentRecords = 50000;

    // The refresh timer's cadence; tests shorten it.
    struct TimerSettings {
        Seconds firstFire{1.0};
        Seconds interval{1.0};
        Seconds leeway{0.1};
        Seconds recentDelay{0.5};
    };

    static std::shared_ptr<VDDataProcesser> create();
    ~VDDataProcesser();
    VDDataProcesser(const VDDataProcesser&) = delete;
    VDDataProcesser& operator=(const VDDataProcesser&) = delete;

    void setConnectCompleteBlock(ConnectCompleteBlock block);
    void setDisconnectBlock(DisconnectBlock block);

    // Each sets connectStatus to connecting first.
    void connectToLocal();
    // The service at a socket path other than the usual one (tools, tests).
    void connectToSocketPath(const std::string& path);
    void connectToHost(const std::string& host, std::int64_t port, const std::string& password);
    // The service on a device attached by USB; it listens one above the given port.
    void connectToUSBPort(std::int64_t port, const std::string& password);
    void disconnect();
    ConnectStatus connectStatus() const { return connectStatus_.load(); }

    TunnelList currentTunnelInfos() const;
    TunnelList recentTunnelInfos() const;
    // How many reports of the active tunnels have been stored: a window tells its own
    // processor's reports by it, since the refresh notifications name no sender.
    std::uint64_t activeReportCount() const { return activeReports_.load(); }
    // Which change of each list is the newest: a view skips a reload with nothing new by it.
    std::shared_ptr<const VDListGenerations> generations() const { return generations_; }
    // The lengths of the four lists, without copying them.
    struct ListSizes {
        std::size_t active = 0;
        std::size_t recent = 0;
        std::size_t dns = 0;
        std::size_t udp = 0;
    };
    ListSizes listSizes() const;
    std::vector<VDDNSInfo> dnsInfos() const;
    // Newest first.
    UDPList udpTunnelInfos() const;
    // For a reader that only counts what arrives (the metrics exporter): hands over the recent
    // records and empties the list in one step, so a reply merged in between is neither lost
    // nor handed over twice, and nothing piles up. Later polls still start after the last id.
    // No notification is posted.
    TunnelList takeRecentTunnelInfos();
    // The same for the UDP records, oldest first.
    UDPList takeUDPTunnelInfos();
    ProcessList currentLocalProcess() const;
    ProcessList currentRemoteProcess() const;
    ProcessList recentLocalProcess() const;
    ProcessList recentRemoteProcess() const;

    std::string filterString() const;
    // Posts "kVDFilterStringChanged" on the caller's thread.
    void setFilterString(std::string text);
    std::string currentFilterBundleId() const;
    void setCurrentFilterBundleId(std::string bundleId);
    std::string recentFilterBundleId() const;
    void setRecentFilterBundleId(std::string bundleId);
    bool mitmEnabled() const;
    // Asks the service; the switch changes when its reply arrives.
    void setMitmEnabled(bool on);
    bool recorderEnabled() const;
    void setRecorderEnabled(bool on);
    double initTime() const;
    std::int64_t lastRecentId() const;

    void refreshCurrentRecord();
    void autoTunnelRefresh(bool on);
    void autoDNSRefresh(bool on);
    void autoUDPRefresh(bool on);
    void requestRecentRecordCount(std::int64_t count);
    void requestRecentRecordFromIdCount(std::int64_t firstId, std::int64_t count);
    void requestRecentRecordFromId(std::int64_t firstId);
    void requestCloseTunnel(std::int64_t tunnelId);
    void getTunnelRequestData(std::int64_t tunnelId);
    void getTunnelResponseData(std::int64_t tunnelId);
    void refreshDNSRecord();
    void purgeDNSRecord();
    void removeDNSRecordOfDomain(const std::string& domain);

    // Empties the recent records and their clients; later polls still start after the last id.
    void cleanRecentRecord();
    void reloadRecentRecord();
    void cleanUDPRecord();

    // A completed tunnel's body comes from the dump store, or is asked of the service when the
    // store has none (the completion then does not run: the arrival notification follows). For
    // other tunnels the service is asked and the store read at once. Completions run on the
    // main thread.
    void getDumpDataOfTunnel(const VDTunnelInfo& tunnel, bool direct, VDDumpDataManager::Completion complete);

    const std::shared_ptr<VDDumpDataManager>& dumpManager() const { return dumpManager_; }
    const std::string& dumpId() const { return dumpId_; }
    const std::shared_ptr<QNComClientManager>& clientManager() const { return clientManager_; }

    // Handles one packet from the service, as the link received it (on the link's queue).
    void processReceived(ReceivedPacket& received);
    // The same for a packet already in dictionary form.
    void processPacket(QNComPacket packet);
    // (Re)starts the polling timer.
    void startTimer();
    void setTimerSettings(const TimerSettings& settings);

private:
    using Dictionary = nlohmann::ordered_json;

    // A port no link can reach: reported as a failed connection, never cut to 16 bits.
    void refuseConnection(std::int64_t port);

    // Looked up by a view into a record: a name already held costs no allocation, and a report
    // repeats the same few clients over thousands of tunnels.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>()(name); }
    };
    using NameSet = std::unordered_set<std::string, NameHash, std::equal_to<>>;
    using BundleIdSet = std::set<std::string, std::less<>>;
    using LocalAddresses = std::shared_ptr<const std::vector<std::string>>;

    struct ClientLists {
        ProcessList local;
        ProcessList remote;
        // Which clients are already listed, so each report costs one pass.
        NameSet localNames;
        NameSet remoteHosts;
        void clear();
    };

    VDDataProcesser();
    void installCallbacks();
    void stopTimer();
    void timerFired();

    void serviceInfo(const Dictionary& data);
    // A report's record texts come apart from its dictionary, escaped as the wire carries them.
    // A report with a text that does not unescape is as unreadable as a packet that does not
    // decode: nothing of it is kept or logged as received.
    void handlePacket(QNComPacket packet, ReportTexts texts);
    bool currentTunnels(const Dictionary& data, ReportTexts texts);
    bool recentTunnels(const Dictionary& data, ReportTexts texts);
    void switchReply(const Dictionary& data, bool mitm);
    void dnsRecords(const Dictionary& data);
    void udpRecord(Dictionary& data);
    void iconReply(const Dictionary& data);
    void bodyData(const Dictionary& data, bool request);
    // Lists the tunnel's client, and collects the app (bundle id) whose icon it shows.
    static void extractClient(const VDTunnelInfo& tunnel, const LocalAddresses& localIPs, ClientLists& lists,
                              BundleIdSet& bundleIds);
    void requestMissingIcons(const BundleIdSet& bundleIds);
    static void sortClients(ClientLists& lists);
    // Adds the records not held yet, keeping the list in id order, and lists their clients.
    // Called with the lock held, like every function whose name ends in Locked.
    void mergeRecentLocked(TunnelList received, BundleIdSet& bundleIds);
    // Drops the oldest recent records beyond the cap, and the clients only they had.
    void trimRecentLocked(BundleIdSet& bundleIds);
    // Replaces the held record with the same id, else adds it as the newest.
    void storeUDPLocked(std::shared_ptr<const VDUDPTunnelInfo> record);
    void logPacket(const QNComPacket& packet) const;

    const std::string dumpId_;
    const std::shared_ptr<VDDumpDataManager> dumpManager_;
    const std::shared_ptr<QNComClientManager> clientManager_;
    std::atomic<ConnectStatus> connectStatus_{ConnectStatus::connecting};
    std::atomic<bool> localLink_{false};
    std::atomic<std::uint64_t> activeReports_{0};
    // Shared: views read them on other processors' threads without holding this one alive.
    const std::shared_ptr<VDListGenerations> generations_ = std::make_shared<VDListGenerations>();

    mutable CheckedMutex mutex_;
    ConnectCompleteBlock connectCompleteBlock_;
    DisconnectBlock disconnectBlock_;
    std::string filterString_;
    std::string currentFilterBundleId_ = "-1";
    std::string recentFilterBundleId_ = "-1";
    TunnelList curTuns_;
    TunnelList recTuns_;
    std::unordered_set<std::int64_t> recentIds_;
    std::vector<VDDNSInfo> dnsIfs_;
    UDPList udpIfs_;
    ClientLists current_;
    ClientLists recent_;
    double initTime_ = 0;
    LocalAddresses localIPs_;
    std::int64_t recLstId_ = -1;
    std::int64_t recRefreshCount_ = 0;
    bool mitmEnabled_ = false;
    bool recorderEnabled_ = false;
    std::shared_ptr<Timer> timer_;
    TimerSettings timerSettings_;

    // Held for the whole of an active report, before mutex_ when both are.
    CheckedMutex reportMutex_;
    UnchangedRecords unchanged_;
};

} // namespace vd
