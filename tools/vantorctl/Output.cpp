#include "Output.h"

#include <poll.h>
#include <unistd.h>

#include "ExitCodes.h"

namespace vd::ctl {
namespace {

// A pipe or socket whose reader has gone reports an error condition when polled for writing.
// (errno is no help: the failed write may lie several stream operations back.)
bool readerGone()
{
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    return poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
}

} // namespace

void flushOrFail(std::ostream& out)
{
    out.flush();
    if (out)
        return;
    throw Failure(kExitFailed, readerGone() ? std::string() : std::string("cannot write the output"));
}

} // namespace vd::ctl
