#pragma once

#include <ostream>

namespace vd::ctl {

// Flushes and fails the command when the output cannot be written. A reader that went away
// (`vantorctl watch | head`) ends the command quietly: it asked for no more.
void flushOrFail(std::ostream& out);

} // namespace vd::ctl
