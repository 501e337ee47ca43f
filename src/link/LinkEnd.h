#pragma once

#include <optional>
#include <string>

namespace vd {

// Why a link ended, as the link itself knows it. Owners choose what to tell the user by this,
// never by reading the error's text.
enum class LinkEndCause {
    // The link was made and its transport ended: the service closed it, or the network, the USB
    // daemon or the device's port failed.
    Closed,
    // No transport was ever made: nothing listens at the address, or it cannot be reached.
    Unreachable,
    // The service refused the login (its answer to the identity or to the password).
    LoginRefused,
    // The USB device that carried the link was detached.
    DeviceDetached,
    // This side ended it: a stop, or the switch to another device.
    Stopped,
};

// How a link ended: the cause, and the ending error's description when there was one.
struct LinkEnd {
    LinkEndCause cause = LinkEndCause::Closed;
    std::optional<std::string> errorDescription;

    // Owners that only show or log the reason read an end as that text.
    operator const std::optional<std::string>&() const { return errorDescription; }
};

} // namespace vd
