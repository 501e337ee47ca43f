#include "ExportTargets.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <set>
#include <string_view>

#include "../ExitCodes.h"
#include "link/ServiceContract.h"

namespace vd::ctl {
namespace {

constexpr std::string_view kUnixScheme = "unix:";
constexpr std::string_view kTcpScheme = "tcp://";
constexpr std::string_view kUsbScheme = "usb://";
constexpr const char* kSharedPasswordVariable = "VANTOR_PASSWORD";

[[noreturn]] void badArgument(const std::string& message)
{
    throw Failure(kExitBadArguments, message + " (see vantorctl --help)");
}

[[noreturn]] void badTarget(const std::string& name, const std::string& why)
{
    badArgument("--target " + name + ": " + why);
}

bool isNameCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::optional<std::int64_t> portIn(std::string_view text, contract::PortRange range)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < range.first || value > range.last)
        return std::nullopt;
    return value;
}

// "HOST:PORT" or "[HOST]:PORT", the brackets taken off.
std::optional<std::pair<std::string, std::string_view>> splitHostPort(std::string_view text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    std::string_view host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        // A bare IPv6 address cannot be told from its port.
        return std::nullopt;
    }
    return std::pair(std::string(host), text.substr(colon + 1));
}

std::string passwordFor(const std::string& name)
{
    std::string variable = std::string(kSharedPasswordVariable) + "_" + name;
    std::transform(variable.begin(), variable.end(), variable.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    if (const char* own = std::getenv(variable.c_str()))
        return own;
    if (const char* shared = std::getenv(kSharedPasswordVariable))
        return shared;
    return {};
}

Target targetOf(std::string_view link, const std::string& name, const Target& defaults)
{
    Target target;
    target.port = defaults.port;
    if (link.starts_with(kUnixScheme)) {
        target.socketPath = link.substr(kUnixScheme.size());
        if (target.socketPath.empty())
            badTarget(name, "unix: needs a socket path");
        return target;
    }
    target.password = passwordFor(name);
    if (link.starts_with(kTcpScheme)) {
        const auto parts = splitHostPort(link.substr(kTcpScheme.size()));
        const auto port = parts ? portIn(parts->second, contract::kRemotePorts) : std::nullopt;
        if (!port)
            badTarget(name, "expected tcp://HOST:PORT with a port from 1 to 65535");
        target.host = parts->first;
        target.port = static_cast<std::uint16_t>(*port);
        return target;
    }
    if (link.starts_with(kUsbScheme)) {
        target.usbPort = portIn(link.substr(kUsbScheme.size()), contract::kUSBPorts);
        if (!target.usbPort)
            badTarget(name, "expected usb://PORT with a port from 0 to 65534");
        return target;
    }
    badTarget(name, "expected a link unix:PATH, tcp://HOST:PORT or usb://PORT");
}

bool isLoopback(const std::string& host)
{
    if (host == "localhost")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

} // namespace

std::vector<NamedTarget> exportTargetsOf(const Options& options)
{
    if (options.exportTargets.empty())
        return {{kDefaultTargetName, options.target}};
    std::vector<NamedTarget> targets;
    std::set<std::string, std::less<>> names;
    for (const auto& given : options.exportTargets) {
        const auto equals = given.find('=');
        if (equals == std::string::npos)
            badArgument("--target '" + given + "': expected NAME=LINK");
        std::string name = given.substr(0, equals);
        if (name.empty() || !std::all_of(name.begin(), name.end(), isNameCharacter))
            badArgument("--target '" + given + "': a name is letters, digits and '_'");
        if (!names.insert(name).second)
            badArgument("--target " + name + " is given twice");
        Target target = targetOf(std::string_view(given).substr(equals + 1), name, options.target);
        targets.push_back({std::move(name), std::move(target)});
    }
    return targets;
}

ListenAddress listenAddressOf(const std::string& text)
{
    const auto parts = splitHostPort(text);
    const auto port = parts ? portIn(parts->second, {0, 65535}) : std::nullopt;
    if (!port)
        badArgument("--listen '" + text + "': expected HOST:PORT or [IPV6]:PORT");
    return {parts->first, static_cast<std::uint16_t>(*port), isLoopback(parts->first)};
}

} // namespace vd::ctl
