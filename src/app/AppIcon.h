#pragma once

#include <QIcon>
#include <QImage>

namespace vd {

// The program's own icon, drawn rather than shipped so it is sharp at every size: a rounded
// tile with a gauge whose needle stands for the traffic passing through. The build renders the
// same drawing into the desktop's icon theme.
inline constexpr int kApplicationIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

QImage drawApplicationIconImage(int side);
// All sizes; needs the application object.
QIcon drawApplicationIcon();

} // namespace vd
