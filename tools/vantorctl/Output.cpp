#include "Output.h"

#include <cerrno>

#include "ExitCodes.h"

namespace vd::ctl {

void flushOrFail(std::ostream& out)
{
    errno = 0;
    out.flush();
    if (out)
        return;
    throw Failure(kExitFailed, errno == EPIPE ? std::string() : std::string("cannot write the output"));
}

} // namespace vd::ctl
