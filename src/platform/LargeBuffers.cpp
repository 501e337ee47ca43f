#include "LargeBuffers.h"

// Any C library header names the library; only then can it be asked which one it is.
#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cstdint>

namespace vd {

void returnLargeBuffersToTheSystem()
{
#if defined(__GLIBC__)
    // Records, headers and small packets stay below it; report and body buffers are above.
    constexpr int kOwnMappingFrom = 256 * 1024;
    mallopt(M_MMAP_THRESHOLD, kOwnMappingFrom);
#endif
}

void preferHugePages([[maybe_unused]] void* begin, [[maybe_unused]] std::size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = 2u << 20;
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + kHugePage - 1) & ~(kHugePage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(kHugePage - 1);
    // Advice only: where it is refused, the buffer is filled in small pages as before.
    if (first < last)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

} // namespace vd
