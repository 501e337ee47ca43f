// Hex text to bytes: any text converts without reading outside it, and the hex dump of any
// bytes converts back to those bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "data/VDUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    (void)vd::VDUtils::dataFromHexString(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string dump = vd::VDUtils::hexStringOfData(std::span(data, size));
    if (vd::VDUtils::dataFromHexString(dump) != vd::Bytes(data, data + size))
        std::abort();
    return 0;
}
