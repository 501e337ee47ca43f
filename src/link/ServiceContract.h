#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace vd::contract {

// The service speaks first with this token in "m".
inline constexpr const char* kGreetingToken = "9b7d2e4f6a8c1035e7f9b2d4c6a81307";
// The password of the service on this computer's socket.
inline constexpr const char* kLocalPassword = "3f1c9a7e5b2d8406c1e9f7a3b5d20846";
// The TCP port offered for remote services.
inline constexpr std::uint16_t kDefaultPort = 6170;

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
