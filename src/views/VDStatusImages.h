#pragma once

#include <cstdint>

#include <QPixmap>

namespace vd {

enum class TunnelStatus : std::uint64_t;
enum class UDPStatus : std::uint64_t;

// The three status images of the tunnel tables, drawn once on first use (GUI thread only):
// "connecting" an amber ring with a dot, "complete" a green disc with a tick, "error" a red disc
// with a cross. Drawn at twice the 12-point size they are shown at, so they stay sharp on
// high-density screens.
class VDStatusImages {
public:
    VDStatusImages() = delete;

    // By resource name; a null pixmap for any other name.
    static QPixmap named(const char* name);
    // What a screen reader says for an image, since it cannot see it: "Active", "Completed" or
    // "Failed"; empty for any other name.
    static QString spokenName(const char* name);
    // The image's name for a status; null for a status the service has no name for.
    static const char* nameFor(TunnelStatus status);
    static const char* nameFor(UDPStatus status);
    // "connecting" while a tunnel is active, "complete" once it completed, "error" when it was
    // suspended.
    static QPixmap forStatus(TunnelStatus status);
    // The same images for an active, sent and failed exchange; none for a status the service
    // has no name for.
    static QPixmap forStatus(UDPStatus status);
};

} // namespace vd
