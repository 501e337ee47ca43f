#pragma once

#include <cstdint>

#include <QPixmap>

namespace vd {

// The three status images of the tunnel tables, drawn once on first use (GUI thread only):
// "connecting" an amber ring with a dot, "complete" a green disc with a tick, "error" a red disc
// with a cross. Drawn at twice the 12-point size they are shown at, so they stay sharp on
// high-density screens.
class VDStatusImages {
public:
    VDStatusImages() = delete;

    // By resource name; a null pixmap for any other name.
    static QPixmap named(const char* name);
    // The image of a record's status (0 active, 1 completed, 2 suspended); none for any other.
    static QPixmap forStatus(std::uint64_t status);
};

} // namespace vd
