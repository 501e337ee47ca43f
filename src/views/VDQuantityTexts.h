#pragma once

#include <cstdint>

#include <QString>

namespace vd {

// A byte count and a speed as every view writes them, in the units of the shared formatting
// functions: "1.5KB" and "1.5KB/s".
QString sizeText(std::int64_t bytes);
QString speedText(std::int64_t bytesPerSecond);

} // namespace vd
