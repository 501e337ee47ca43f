#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Bytes.h"

namespace vd {

class VDTunnelInfo;

// The text as one word of a POSIX shell: single-quoted, each quote written as '\'' , so that
// nothing inside ($(), backticks, newlines, quotes) is ever read by the shell.
std::string shellQuoted(std::string_view text);

// A curl command line that sends the tunnel's request again as the service received it: method,
// URL, header fields and the body cut from the captured request message, when it is text. The
// body length and transfer coding are curl's to set. A binary body cannot travel on a command
// line: it is left out, and a comment at the end says so. None for a tunnel without HTTP.
std::optional<std::string> curlCommand(const VDTunnelInfo& tunnel, const std::optional<Bytes>& capturedRequest);

} // namespace vd
