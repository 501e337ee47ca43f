// The processor's packet dispatch: each line of the input is one packet's dictionary as JSON
// ("t", "c", "d" with whatever types the peer chose), handed to a fresh processor in order,
// so later packets meet the lists earlier ones built.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzEnvironment.h"
#include "data/VDDataProcesser.h"
#include "data/VDDumpDataManager.h"
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
        auto dictionary = vd::QNComPacket::Dictionary::parse(line, nullptr, false);
        if (dictionary.is_discarded())
            continue;
        vd::QNComPacket packet;
        packet.dic() = std::move(dictionary);
        processer->processPacket(std::move(packet));
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
