#pragma once

#include <cstddef>

namespace vd {

// The program lives for hours beside services that send reports of megabytes, bodies, and (a
// hostile one) packets of hundreds of megabytes. With the C library's default, the threshold
// above which a block gets its own mapping rises to the largest block freed so far, so such
// transient buffers end up inside the allocator's heaps, between small records that live on;
// freed, they stay resident as holes nothing reuses. Fixing the threshold gives every large
// buffer its own mapping, returned to the system the moment it is freed.
// Call once, first thing in main; a no-op where the C library has no such setting.
void returnLargeBuffersToTheSystem();

// Asks for the memory of a large buffer not yet written to be mapped in huge pages where the
// system offers them on request: filling it then takes one fault per 2 MiB instead of per 4 KiB,
// which is most of the cost of writing a fresh buffer of megabytes. Only the whole huge pages
// inside [begin, begin + size) are affected; a no-op where there are none to ask for.
void preferHugePages(void* begin, std::size_t size);

} // namespace vd
