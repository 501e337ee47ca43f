#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"

class QObject;

namespace vd {

class VDTunnelInfo;

// Fetches one record's captured request or response message through its window's processor, as
// a body view does: the stored bytes where there are any, else what the service sends for it.
// `done` runs once on the GUI thread: with the bytes, or with none when nothing was captured or
// the service has not answered within `patience`. It is dropped with `context`.
void fetchCapturedMessage(QObject* context, const std::string& idString, std::shared_ptr<const VDTunnelInfo> record,
                          bool direct, std::chrono::milliseconds patience,
                          std::function<void(std::optional<Bytes>)> done);

} // namespace vd
