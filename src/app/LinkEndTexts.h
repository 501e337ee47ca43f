#pragma once

#include <cstdint>
#include <string>

#include <QString>

#include "WindowId.h"
#include "link/LinkEnd.h"

namespace vd {

// Where a main window's link goes, as the user chose it.
struct LinkPlace {
    ConnectionKind kind = ConnectionKind::None;
    // The local service's socket, as used.
    std::string socketPath;
    std::string host;
    // The remote port, or the USB port as entered (the device's port is the one above).
    std::int64_t port = 0;
};

// The reason a "Connect Closed" sheet shows: the error's own text, or what the cause says when
// the error says nothing useful.
QString linkEndReason(const LinkEnd& end);
// The line under the reason: where the link went, and what the user can do about it.
QString linkEndDetail(const LinkEnd& end, const LinkPlace& place);
// The line a "Connecting..." sheet shows while the USB daemon cannot be reached.
QString usbDaemonUnreachableDetail(const std::string& address, const std::string& error);

} // namespace vd
