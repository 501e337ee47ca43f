// Writes the fuzz targets' seed corpora from real traffic: a dashboard processor talks to the
// service simulator through a recording relay, and a raw client talks to the USB daemon
// simulator. Every seed is a few KiB at most. Usage: vd-fuzz-seeds CORPUS_FOLDER
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include "FuzzEnvironment.h"
#include "FuzzPeer.h"
#include "ServiceSimulator.h"
#include "TrafficRecorder.h"
#include "UsbmuxSimulator.h"
#include "data/VDDataProcesser.h"
#include "data/VDDumpDataManager.h"
#include "data/VDTunnelInfo.h"
#include "data/VDUtils.h"
#include "link/PTChannel.h"
#include "link/PTUSBHub.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "link/ServiceContract.h"
#include "platform/Base64.h"
#include "platform/MainLoop.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vd::fuzz {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Dictionary = QNComPacket::Dictionary;

constexpr std::size_t kMaxSeedBytes = 4096;
constexpr std::uint16_t kDevicePort = 6170;

class SeedWriter {
public:
    explicit SeedWriter(fs::path root) : root_(std::move(root)) {}

    // Drops seeds over the size limit; false then.
    bool write(const std::string& target, std::span<const std::uint8_t> bytes)
    {
        if (bytes.size() > kMaxSeedBytes)
            return false;
        const fs::path folder = root_ / target;
        fs::create_directories(folder);
        char name[16];
        std::snprintf(name, sizeof name, "seed-%03d", counts_[target]++);
        std::ofstream(folder / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                             static_cast<std::streamsize>(bytes.size()));
        return true;
    }
    bool write(const std::string& target, std::uint8_t prefix, std::span<const std::uint8_t> bytes)
    {
        Bytes joined{prefix};
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        return write(target, joined);
    }
    bool write(const std::string& target, std::uint8_t prefix, const std::string& text)
    {
        return write(target, prefix, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    }
    int count(const std::string& target) { return counts_[target]; }

private:
    fs::path root_;
    std::map<std::string, int> counts_;
};

std::vector<Bytes> splitPackets(const Bytes& stream)
{
    std::vector<Bytes> packets;
    auto start = stream.begin();
    for (;;) {
        const auto end = std::search(start, stream.end(), std::begin(QNComPacket::kTerminator), std::end(QNComPacket::kTerminator));
        if (end == stream.end())
            return packets;
        packets.emplace_back(start, end + 2);
        start = end + 2;
    }
}

// A dashboard session against the service simulator: login, pushes on, history, DNS, bodies.
Bytes recordServiceSession(const fs::path& serviceSocket, const fs::path& folder)
{
    TrafficRecorder recorder(folder / "relay.sock", serviceSocket);
    MainLoop loop;
    auto processer = VDDataProcesser::create();
    processer->setTimerSettings({Seconds(0.1), Seconds(0.2), Seconds(0.05), Seconds(0.05)});
    processer->connectToSocketPath(recorder.path().string());
    processer->autoTunnelRefresh(true);
    processer->autoDNSRefresh(true);
    processer->autoUDPRefresh(true);
    processer->refreshDNSRecord();
    processer->requestRecentRecordCount(8);
    loop.runFor(1500ms);
    int asked = 0;
    for (const auto& tunnel : processer->recentTunnelInfos()) {
        if (asked++ == 6)
            break;
        processer->getTunnelRequestData(tunnel->id_());
        processer->getTunnelResponseData(tunnel->id_());
    }
    loop.runFor(1000ms);
    processer->disconnect();
    loop.runFor(100ms);
    processer.reset();
    return recorder.serverBytes();
}

int connectTo(const fs::path& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to " + path.string());
    return fd;
}

Bytes receiveFor(int fd, std::chrono::milliseconds duration)
{
    Bytes received;
    const auto until = std::chrono::steady_clock::now() + duration;
    std::uint8_t chunk[4096];
    while (std::chrono::steady_clock::now() < until) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0)
            received.insert(received.end(), chunk, chunk + n);
        else
            std::this_thread::sleep_for(5ms);
    }
    return received;
}

void sendRequest(int fd, std::uint32_t tag, const PTPlistMessage& message)
{
    const auto packet = usbmux::encodePacket(tag, usbmux::toXmlPlist(message));
    ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
}

// What a USB daemon sends a listening client (result, attach and detach broadcasts), and what
// a connect to a device port brings: its result, then the service's first frame.
std::pair<Bytes, Bytes> recordUsbmuxSessions(sim::UsbmuxSimulator& daemon, const fs::path& daemonSocket)
{
    const int listening = connectTo(daemonSocket);
    sendRequest(listening, 1, {{"MessageType", "Listen"}, {"ProgName", "vd-fuzz-seeds"}});
    Bytes listenBytes = receiveFor(listening, 200ms);
    daemon.attach(2, {{"ConnectionType", "USB"}, {"SerialNumber", "seed-device-2"}});
    daemon.detach(1);
    const Bytes later = receiveFor(listening, 200ms);
    listenBytes.insert(listenBytes.end(), later.begin(), later.end());
    ::close(listening);

    const int connecting = connectTo(daemonSocket);
    sendRequest(connecting, 1,
                {{"MessageType", "Connect"}, {"DeviceID", 2}, {"PortNumber", usbmux::portNumberOnWire(kDevicePort + 1)}});
    Bytes connectBytes = receiveFor(connecting, 300ms);
    ::close(connecting);
    return {listenBytes, connectBytes};
}

// Record texts (selector byte: kind in the low bits, DNS type above) and captured HTTP
// messages (selector: request 0, response 1) as the packets carry them, a few of each kind.
class RecordSeeds {
public:
    explicit RecordSeeds(SeedWriter& seeds) : seeds_(seeds) {}

    void take(const QNComPacket& packet)
    {
        const Dictionary* data = packet.data();
        if (!data)
            return;
        for (const auto& text : arrayOf(*data, "tunnels")) {
            if (!text.is_string())
                continue;
            write("records", 0, text.get<std::string>());
            // The block unescapers take the text escaped, as the report carried it.
            const std::string quoted = text.dump();
            write("short_escapes", 0, quoted.substr(1, quoted.size() - 2));
        }
        if (data->contains("tunnel_info") && (*data)["tunnel_info"].is_string())
            write("records", 1, (*data)["tunnel_info"].get<std::string>());
        const std::pair<const char*, std::uint8_t> dnsKinds[] = {{"host_config", 1}, {"host_file", 2}, {"record", 3}};
        for (const auto& [key, type] : dnsKinds) {
            for (const auto& entry : arrayOf(*data, key)) {
                write("records", static_cast<std::uint8_t>(2 | type << 2), entry.dump());
                write("records", static_cast<std::uint8_t>(3 | type << 2), entry.dump());
            }
        }
        const contract::Command cmd{packet.cmd()};
        const bool body = cmd == contract::Command::tunnelRequestData || cmd == contract::Command::tunnelResponseData;
        if (body && data->contains("data") && (*data)["data"].is_string()) {
            const std::string& text = (*data)["data"].get_ref<const std::string&>();
            if (const auto message = VDUtils::base64DecodeData(text, false); message && !message->empty()) {
                write("http_body", cmd == contract::Command::tunnelRequestData ? 0 : 1, std::string(message->begin(), message->end()));
                write("base64", 0, text);
            }
        }
    }

private:
    static constexpr int kPerKind = 4;

    static Dictionary arrayOf(const Dictionary& data, const char* key)
    {
        return data.contains(key) && data[key].is_array() ? data[key] : Dictionary::array();
    }
    void write(const std::string& target, std::uint8_t selector, const std::string& text)
    {
        int& taken = taken_[{target, selector}];
        if (taken >= kPerKind)
            return;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        // The Base64 and block unescaping targets read the whole input as text: no selector byte there.
        const bool wholeText = target == "base64" || target == "short_escapes";
        taken += wholeText ? seeds_.write(target, std::span(bytes, text.size()))
                           : seeds_.write(target, selector, std::span(bytes, text.size()));
    }

    SeedWriter& seeds_;
    std::map<std::pair<std::string, std::uint8_t>, int> taken_;
};

// A packet too big for a seed keeps its envelope and the first entry of each list it carries.
Bytes shortened(const Bytes& wire)
{
    auto packet = QNComPacket::initWithData(wire);
    if (!packet || wire.size() <= kMaxSeedBytes || !packet->data())
        return wire;
    for (auto& [key, value] : packet->data()->items()) {
        if (value.is_array() && value.size() > 1)
            value.erase(value.begin() + 1, value.end());
    }
    return packet->toData().value_or(wire);
}

void writeLinkSeeds(SeedWriter& seeds, const Bytes& stream)
{
    const auto packets = splitPackets(stream);
    if (packets.size() < 4)
        throw std::runtime_error("the service session brought too few packets");

    // One packet of each command and the handshake; the smallest of each stays within limits.
    std::map<std::uint64_t, const Bytes*> smallest;
    for (std::size_t i = 3; i < packets.size(); ++i) {
        const auto packet = QNComPacket::initWithData(packets[i]);
        const std::uint64_t cmd = packet ? packet->cmd() : 0;
        if (!smallest.count(cmd) || packets[i].size() < smallest[cmd]->size())
            smallest[cmd] = &packets[i];
    }
    std::vector<Bytes> kept = {packets[0], packets[1], packets[2]};
    for (const auto& [cmd, packet] : smallest)
        kept.push_back(shortened(*packet));
    std::vector<const Bytes*> chosen;
    for (const Bytes& packet : kept)
        chosen.push_back(&packet);

    Bytes handshake;
    for (int i = 0; i < 3; ++i)
        handshake.insert(handshake.end(), packets[i].begin(), packets[i].end());
    seeds.write("client_manager", 255, handshake);
    for (const Bytes* packet : chosen) {
        seeds.write("packet", *packet);
        Bytes text(packet->begin(), packet->end() - 2);
        seeds.write("base64", text);
        if (packet->size() <= 1024) {
            const std::string dump = VDUtils::hexStringOfData(*packet);
            seeds.write("hex_string", Bytes(dump.begin(), dump.end()));
        }
        Bytes session = handshake;
        session.insert(session.end(), packet->begin(), packet->end());
        seeds.write("client_manager", static_cast<std::uint8_t>(packet->size() % 7), session);
        seeds.write("frames", 255, PTProtocol::createFrame(contract::kFrameTypePacket, 0, *packet));
    }
    Bytes several;
    for (std::size_t i = 0; i < chosen.size() && several.size() < 3000; ++i) {
        const auto frame = PTProtocol::createFrame(contract::kFrameTypePacket, static_cast<std::uint32_t>(i), *chosen[i]);
        several.insert(several.end(), frame.begin(), frame.end());
    }
    seeds.write("frames", 3, several);

    std::string processorLines;
    for (const Bytes* wire : chosen) {
        const auto packet = QNComPacket::initWithData(*wire);
        if (!packet)
            continue;
        const std::string line = packet->dic().dump();
        seeds.write("processor", Bytes(line.begin(), line.end()));
        if (processorLines.size() + line.size() < kMaxSeedBytes)
            processorLines += line + "\n";
    }
    seeds.write("processor", Bytes(processorLines.begin(), processorLines.end()));
    RecordSeeds records(seeds);
    for (const Bytes& wire : packets) {
        if (const auto packet = QNComPacket::initWithData(wire))
            records.take(*packet);
    }
}

void writeUsbmuxSeeds(SeedWriter& seeds, const Bytes& listenSession, const Bytes& connectSession)
{
    seeds.write("usbmux", 255, listenSession);
    seeds.write("usbmux", 5, listenSession);
    seeds.write("usbmux", 255, connectSession);
    // Each daemon packet on its own: a 16-byte header holding its length, then the plist.
    for (const Bytes* session : {&listenSession, &connectSession}) {
        std::size_t at = 0;
        while (at + usbmux::kHeaderSize <= session->size()) {
            const std::uint32_t length = (*session)[at] | (*session)[at + 1] << 8 | (*session)[at + 2] << 16 |
                                         static_cast<std::uint32_t>((*session)[at + 3]) << 24;
            if (length < usbmux::kHeaderSize || at + length > session->size())
                break;
            seeds.write("usbmux", 255, std::span(session->data() + at, length));
            at += length;
        }
        // What follows a successful connect is the device port's frames.
        if (session == &connectSession && at < session->size())
            seeds.write("frames", 255, std::span(session->data() + at, session->size() - at));
    }
}

} // namespace
} // namespace vd::fuzz

int main(int argc, char** argv)
{
    using namespace vd;
    using namespace vd::fuzz;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder = setUpFuzzEnvironment();
    VDDumpDataManager::setUpDumpFolderIn(folder);
    const fs::path serviceSocket = folder / "service.sock";
    const fs::path daemonSocket = folder / "usbmuxd.sock";

    asio::io_context context;
    sim::SimulatorOptions options;
    options.socketPath = serviceSocket;
    options.seed = 7;
    options.tickInterval = 20ms;
    sim::ServiceSimulator service(context, options, [](const std::string&) {});
    sim::UsbmuxSimulator daemon(context, daemonSocket);
    if (const auto error = service.start()) {
        std::fprintf(stderr, "service simulator: %s\n", error->c_str());
        return 1;
    }
    if (const auto error = daemon.start()) {
        std::fprintf(stderr, "usbmux simulator: %s\n", error->c_str());
        return 1;
    }
    daemon.forwardPort(2, kDevicePort + 1, serviceSocket);
    daemon.attach(1, {{"ConnectionType", "USB"}, {"SerialNumber", "seed-device-1"}});
    auto guard = asio::make_work_guard(context);
    std::thread thread([&] { context.run(); });

    SeedWriter seeds(argv[1]);
    int status = 0;
    try {
        writeLinkSeeds(seeds, recordServiceSession(serviceSocket, folder));
        const auto [listenSession, connectSession] = recordUsbmuxSessions(daemon, daemonSocket);
        writeUsbmuxSeeds(seeds, listenSession, connectSession);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vd-fuzz-seeds: %s\n", error.what());
        status = 1;
    }
    asio::post(context, [&] {
        service.stop();
        daemon.stop();
    });
    guard.reset();
    thread.join();
    return status;
}
