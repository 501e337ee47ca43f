#include "LargeBuffers.h"

// Any C library header names the library; only then can it be asked which one it is.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace vd {

void returnLargeBuffersToTheSystem()
{
#if defined(__GLIBC__)
    // Records, headers and small packets stay below it; report and body buffers are above.
    constexpr int kOwnMappingFrom = 256 * 1024;
    mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
#endif
}

} // namespace vd
