#include "ThreadCheck.h"

#include <cstdio>
#include <cstdlib>

#include "DispatchQueue.h"

namespace vd::thread_check {

bool isCurrent(const DispatchQueue& queue) { return queue.isCurrent(); }

void fail(const char* rule, const char* file, int line)
{
    // Straight to stderr and abort: the log's sink may itself be what broke the rule.
    std::fprintf(stderr, "%s:%d: threading rule broken: the caller must be the one that %s\n", file,
                 line, rule);
    std::fflush(stderr);
    std::abort();
}

} // namespace vd::thread_check
