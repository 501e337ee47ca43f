#pragma once

namespace vd::ctl {

// Ctrl-C and SIGTERM only raise a flag: the waits look at it and end the command cleanly, so
// the private folder is removed and a watch ends with success.
void installInterruptHandlers();
bool interrupted();

} // namespace vd::ctl
