#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "platform/Bytes.h"

// The service's replies on the wire.
namespace vd::sim {

Bytes wire(const QNComPacket& packet);
// A successful reply carrying `data`.
Bytes answer(std::int64_t id, contract::Command cmd, QNComPacket::Dictionary data);
// A refused request: code 0 and the message; id and command as far as the request had them.
Bytes refusal(std::optional<std::int64_t> id, std::optional<std::uint64_t> cmd, const std::string& message);
// A report of tunnel texts, each already a JSON string literal, separated by commas.
Bytes tunnelReport(std::int64_t id, contract::Command cmd, const std::string& texts);
std::string base64Of(std::string_view bytes);

} // namespace vd::sim
