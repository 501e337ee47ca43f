#include "QNIPAddress.h"
#include "VDUtils.h"

namespace vd {

bool VDUtils::isIP(std::string_view text)
{
    return QNIPAddress::isValidIPAddress(text);
}

bool VDUtils::isIPv4(std::string_view text)
{
    return QNIPAddress::isValidIPv4Address(text);
}

bool VDUtils::isIPv6(std::string_view text)
{
    return QNIPAddress::isValidIPv6Address(text);
}

std::string VDUtils::ipFormat(std::string_view text)
{
    // Brackets keep an IPv6 address apart from the ":port" that may follow it in a host text.
    if (QNIPAddress::isValidIPv4Address(text) || !QNIPAddress::isValidIPv6Address(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('[');
    for (const char c : text)
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    out.push_back(']');
    return out;
}

} // namespace vd
