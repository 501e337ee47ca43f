#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../Options.h"

namespace vd::ctl {

// A service the exporter watches, under the name its metrics carry as their "target" label.
struct NamedTarget {
    std::string name;
    Target target;
};

// The name of the one service the global options point at, when no --target is given.
inline constexpr const char* kDefaultTargetName = "default";

// Reads each `NAME=LINK` (LINK: unix:PATH, tcp://HOST:PORT or usb://PORT). A target's password
// comes from VANTOR_PASSWORD_<NAME> (upper case), else VANTOR_PASSWORD. Without any, the service
// the global options name is the one target. Throws Failure (bad arguments) on a malformed
// target, a name used twice, or a name that could not be part of a variable's name.
std::vector<NamedTarget> exportTargetsOf(const Options& options);

// Where the metrics are served.
struct ListenAddress {
    std::string host;
    std::uint16_t port = 0;
    bool loopback = false;
};

// Reads HOST:PORT or [IPV6]:PORT; port 0 lets the system choose. Only literal loopback
// addresses and "localhost" count as loopback: any other name might resolve anywhere.
// Throws Failure (bad arguments) when malformed.
ListenAddress listenAddressOf(const std::string& text);

} // namespace vd::ctl
