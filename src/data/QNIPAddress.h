#pragma once

#include <string_view>

namespace vd::QNIPAddress {

// What the system's presentation-to-network conversion accepts.
bool isValidIPv4Address(std::string_view text);
bool isValidIPv6Address(std::string_view text);
bool isValidIPAddress(std::string_view text);

} // namespace vd::QNIPAddress
