#include "QNIPAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstring>

namespace vd::QNIPAddress {
namespace {

// inet_pton wants a NUL-terminated text. The longest address text it accepts is an IPv6 address
// ending in a dotted quad (45 characters), so a small buffer on the stack holds every candidate
// and these checks, run for every record's host, never allocate.
constexpr std::size_t kLongestCandidate = 63;

bool accepts(int family, std::string_view text)
{
    if (text.empty() || text.size() > kLongestCandidate)
        return false;
    // A NUL inside the text would end it early for inet_pton, which would then judge only the
    // part in front of it ("1.2.3.4\0junk" is not an address).
    if (text.find('\0') != std::string_view::npos)
        return false;
    std::array<char, kLongestCandidate + 1> buffer{};
    std::memcpy(buffer.data(), text.data(), text.size());
    in6_addr address{}; // large enough for either family
    return inet_pton(family, buffer.data(), &address) == 1;
}

} // namespace

bool isValidIPv4Address(std::string_view text)
{
    return accepts(AF_INET, text);
}

bool isValidIPv6Address(std::string_view text)
{
    return accepts(AF_INET6, text);
}

bool isValidIPAddress(std::string_view text)
{
    return isValidIPv4Address(text) || isValidIPv6Address(text);
}

} // namespace vd::QNIPAddress
