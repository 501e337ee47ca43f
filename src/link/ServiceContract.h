#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <type_traits>

namespace vd::contract {

// The service speaks first with this token in "m".
inline constexpr const char* kGreetingToken = "9b7d2e4f6a8c1035e7f9b2d4c6a81307";
// The password of the service on this computer's socket.
inline constexpr const char* kLocalPassword = "3f1c9a7e5b2d8406c1e9f7a3b5d20846";
// The TCP port offered for remote services.
inline constexpr std::uint16_t kDefaultPort = 6170;

// The number "t" of a packet: what a request asks for, and what a reply or push carries. A reply
// comes back with its request's number; the service pushes records unasked under 51 to 54.
enum class Command : std::uint64_t {
    info = 1,
    configuration = 2,
    outboundMode = 4,
    currentTunnels = 7,
    historyTunnels = 8,
    recentProcesses = 9,
    trafficRecord = 10,
    mitmEnable = 11,
    trafficInfo = 12,
    dnsRecords = 13,
    autoPushTunnel = 14,
    autoPushDNS = 15,
    purgeDNSRecords = 16,
    removeDNSRecord = 17,
    closeTunnel = 18,
    icon = 19,
    tunnelRequestData = 20,
    tunnelResponseData = 21,
    autoPushUDP = 22,
    // The service pushes the current tunnels under either of two numbers.
    currentTunnelsPush = 51,
    dnsRecordsPush = 52,
    currentTunnelsPushAlt = 53,
    udpRecordPush = 54,
};

// Where a client's login stands; only a ready link carries requests.
enum class HandshakeState : std::uint64_t {
    noLink = 0,
    waitingForGreeting = 1,
    identitySent = 2,
    passwordSent = 3,
    ready = 4,
};

// Why a tunnel ended, as the service numbers it; any other number reads as a completed tunnel.
enum class CloseReason : std::uint64_t {
    complete = 0,
    manualClose = 1,
    timeout = 4,
    memoryWarning = 5,
    reject = 6,
};

// The number a named value travels or is kept as.
template <typename Named>
    requires std::is_enum_v<Named>
constexpr std::underlying_type_t<Named> numberOf(Named value)
{
    return static_cast<std::underlying_type_t<Named>>(value);
}

// Ports a user may give: a remote service's TCP port, and the port of a service on a USB device,
// which listens one above it, so the highest still leaves its device port a 16-bit number.
struct PortRange {
    std::int64_t first;
    std::int64_t last;
    constexpr bool contains(std::int64_t port) const { return port >= first && port <= last; }
};
inline constexpr PortRange kRemotePorts{1, 65535};
inline constexpr PortRange kUSBPorts{0, 65534};

// Handshake replies: the identity is answered with 2, the password accepted with 1.
inline constexpr std::int64_t kCodeSuccess = 1;
inline constexpr std::int64_t kCodeIdentityAccepted = 2;

// Write tags: the two handshake packets, and every request or command.
inline constexpr long kTagHandshake = 898;
inline constexpr long kTagCommand = 999;

// Over USB every packet travels as the payload of one frame of this type.
inline constexpr std::uint32_t kFrameTypePacket = 3004;

// How long a packet may grow without its terminator: small before login, when nothing but
// the handshake should arrive, and large enough for captured bodies afterwards.
inline constexpr std::size_t kMaxPacketBytesBeforeLogin = 64 * 1024;
inline constexpr std::size_t kMaxPacketBytes = 256u * 1024 * 1024;

// The service's socket on this computer, under the given home folder.
inline std::filesystem::path localSocketPath(const std::filesystem::path& home)
{
    return home / "Vantor" / "Tmp" / "db.connect";
}

} // namespace vd::contract
