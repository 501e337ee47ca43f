#pragma once

#include <cstdint>
#include <string>

#include "ChaosPlan.h"
#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "platform/Bytes.h"

// Hostile pieces for the chaos mode: each builder takes the details it chooses from the plan
// and says what it chose in `detail`, so a log line can name it.
namespace vd::sim::chaos {

using Dictionary = QNComPacket::Dictionary;

// {"v":1,"c":1,"i":id,"t":cmd,"d":data}
Dictionary envelope(contract::Command cmd, Dictionary data, std::int64_t id = 0);
// The wire form of any JSON value, object or not.
Bytes wireOf(const Dictionary& packet);

// A whole packet that does not decode to an object: bytes, text or JSON of the wrong kind.
Bytes garbagePacket(ChaosPlan& plan, Dictionary& detail);
// Text for a field that should hold Base64.
std::string garbageBase64(ChaosPlan& plan, Dictionary& detail);
// The packet with one field (maybe one inside a record text) replaced by a value of a wrong
// JSON type: a text for a number, an object for a list, null, numbers beyond any range...
Dictionary withWrongType(Dictionary packet, ChaosPlan& plan, Dictionary& detail);
// An HTTP message announcing far more body than it carries.
std::string hugeSizeMessage(ChaosPlan& plan, Dictionary& detail);
// A body that is no HTTP message at all.
std::string notHttpMessage(ChaosPlan& plan, Dictionary& detail);
// A bundle id that must never become a path: traversal, absolute, NUL, control characters,
// far too long.
std::string unsafeBundleId(ChaosPlan& plan, Dictionary& detail);
// The record texts again, some twice, in a shuffled order.
Dictionary shuffledWithDuplicates(const Dictionary& texts, ChaosPlan& plan, Dictionary& detail);
// A UDP record text with the given id.
std::string udpText(std::int64_t id);

} // namespace vd::sim::chaos
