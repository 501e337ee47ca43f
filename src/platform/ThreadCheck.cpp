#include "ThreadCheck.h"

#include <cstdio>
#include <cstdlib>

namespace vd::thread_check {

// Runs only in a process that then aborts, whose coverage counts are never written.
// GCOVR_EXCL_START
void fail(const char* rule, const char* file, int line)
{
    // Straight to stderr and abort: the log's sink may itself be what broke the rule.
    std::fprintf(stderr, "%s:%d: threading rule broken: the caller must be the one that %s\n", file,
                 line, rule);
    std::fflush(stderr);
    std::abort();
}
// GCOVR_EXCL_STOP

} // namespace vd::thread_check
