#pragma once

namespace vd {

// The program lives for hours beside services that send reports of megabytes, bodies, and (a
// hostile one) packets of hundreds of megabytes. With the C library's default, the threshold
// above which a block gets its own mapping rises to the largest block freed so far, so such
// transient buffers end up inside the allocator's heaps, between small records that live on;
// freed, they stay resident as holes nothing reuses. Fixing the threshold gives every large
// buffer its own mapping, returned to the system the moment it is freed.
// Call once, first thing in main; a no-op where the C library has no such setting.
void returnLargeBuffersToTheSystem();

} // namespace vd
