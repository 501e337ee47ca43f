// Packet decoding: any bytes, read as one received wire form, decode or are refused, and a
// decoded packet encodes again.
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzEnvironment.h"
#include "link/QNComPacket.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vd::fuzz::dropLogLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto packet = vd::QNComPacket::initWithData(std::span(data, size));
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
