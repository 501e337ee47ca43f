// The processor's packet dispatch: each line of the input is one packet's dictionary as JSON
// ("t", "c", "d" with whatever types the peer chose), put on the wire and handed to a fresh
// processor in order as the link hands it over, so later packets meet the lists earlier ones
// built.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzEnvironment.h"
#include "data/VDDataProcesser.h"
#include "data/VDDumpDataManager.h"
#include "link/ReceivedPacket.h"
#include "platform/Base64.h"
#include "platform/MainLoop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& caches = vd::fuzz::setUpFuzzEnvironment();
    static const bool dumpsReady = vd::VDDumpDataManager::setUpDumpFolderIn(caches).has_value();
    static vd::MainLoop loop;
    (void)dumpsReady;

    auto processer = vd::VDDataProcesser::create();
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        auto wire = vd::base64::encode({reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
        wire.append(std::begin(vd::QNComPacket::kTerminator), std::end(vd::QNComPacket::kTerminator));
        if (auto received = vd::ReceivedPacket::decode({reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size()}))
            processer->processReceived(*received);
    }
    // Reading the lists is what the views do next.
    (void)processer->currentTunnelInfos();
    (void)processer->recentTunnelInfos();
    (void)processer->dnsInfos();
    (void)processer->udpTunnelInfos();
    (void)processer->currentLocalProcess();
    (void)processer->recentRemoteProcess();
    processer.reset();
    vd::VDDumpDataManager::cleanDumpFolder();
    loop.drain();
    return 0;
}
