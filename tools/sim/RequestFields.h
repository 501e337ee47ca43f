#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/QNComPacket.h"

// Members of a request's data as the service takes them: anything of another JSON type counts
// as absent.
namespace vd::sim {

// Integers as the client sends them; a real number, a text or a value beyond 64 bits is not one.
std::optional<std::int64_t> integerMember(const QNComPacket::Dictionary* data, const char* key);
const std::string* stringMember(const QNComPacket::Dictionary* data, const char* key);
// The "switch" of the switching commands.
std::optional<bool> switchMember(const QNComPacket::Dictionary* data);

} // namespace vd::sim
