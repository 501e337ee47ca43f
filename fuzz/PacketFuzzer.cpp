// Packet decoding: any bytes, read as one received wire form, decode or are refused exactly as
// a full parse of their JSON decides, to the same values; a decoded packet encodes again.
#include <cstddef>
#include <cstdint>
#include <span>

#include <cstdlib>
#include <string_view>

#include "FuzzEnvironment.h"
#include "link/QNComPacket.h"
#include "platform/Base64.h"
#include "support/FullParse.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vd::fuzz::dropLogLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto packet = vd::QNComPacket::initWithData(std::span(data, size));
    const auto json = size < 2 ? std::nullopt
                               : vd::base64::decodeStrict(std::string_view(reinterpret_cast<const char*>(data), size - 2));
    const auto expected = json ? vd::test::fullParse(std::string_view(reinterpret_cast<const char*>(json->data()), json->size()))
                               : std::nullopt;
    if (expected.has_value() != packet.has_value() ||
        (packet && vd::test::kindedDump(*expected) != vd::test::kindedDump(packet->dic())))
        std::abort();
    if (!packet)
        return 0;
    // Every accessor reads a field the peer chose the type of.
    (void)packet->id_();
    (void)packet->version();
    (void)packet->code();
    (void)packet->cmd();
    (void)packet->message();
    (void)packet->data();
    (void)packet->toData();
    return 0;
}
