// Base64: the strict decoder of packet envelopes and the lenient one of record fields take any
// text; where the strict one accepts, the lenient one must read the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "data/VDUtils.h"
#include "platform/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto strict = vd::base64::decodeStrict(text);
    const auto lenient = vd::VDUtils::base64DecodeData(text, false);
    (void)vd::VDUtils::base64DecodeData(text, true);
    if (strict && !strict->empty() && (!lenient || *lenient != *strict))
        std::abort();
    return 0;
}
