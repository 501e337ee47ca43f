#include "HexDump.h"
#include "VDUtils.h"
#include "platform/Numbers.h"

namespace vd {

std::string VDUtils::hexStringOfData(std::span<const std::uint8_t> data)
{
    return hexDumpOf(data);
}

std::uint16_t VDUtils::uint16FromBytes(std::span<const std::uint8_t> data)
{
    if (data.size() != 2)
        return 0xFFFF;
    return static_cast<std::uint16_t>(data[0] << 8 | data[1]);
}

Bytes VDUtils::dataFromHexString(std::string_view text)
{
    Bytes out;
    out.reserve(text.size() / 2);
    // Pairs are read where they start: a digit with a separator after it counts on its own
    // ("a b" is 0A), and a digit in the last place has no partner and is dropped.
    std::size_t i = 0;
    while (i + 1 < text.size()) {
        const int high = numbers::hexDigitValue(text[i]);
        if (high < 0) {
            ++i;
            continue;
        }
        const int low = numbers::hexDigitValue(text[i + 1]);
        out.push_back(static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low));
        i += 2;
    }
    return out;
}

Bytes VDUtils::dataWithReverse(std::span<const std::uint8_t> data)
{
    return Bytes(data.rbegin(), data.rend());
}

} // namespace vd
