#include <unistd.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/LargeBuffers.h"

namespace vd {
namespace {

// GCC names the sanitizers it builds with; they bring their own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif

std::size_t residentBytes()
{
    std::size_t pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// What a long session does to the heap: report-sized buffers, each followed by a small block
// that lives on (a record, a string), then the buffers freed. Without their own mappings the
// buffers' room stays resident behind the small blocks.
TEST(LargeBuffers, FreedLargeBuffersBetweenLiveSmallBlocksLeaveNothingResident)
{
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizers bring their own allocator";
    if (residentBytes() == 0)
        GTEST_SKIP() << "no /proc/self/statm here";
    returnLargeBuffersToTheSystem();
    constexpr std::size_t kBuffer = 4u << 20;
    constexpr int kBuffers = 16;
    // A large block freed once: the default threshold would now rise to its size.
    std::make_unique<char[]>(kBuffer).reset();

    const std::size_t before = residentBytes();
    std::vector<std::unique_ptr<char[]>> buffers, livingOn;
    for (int i = 0; i < kBuffers; ++i) {
        buffers.push_back(std::make_unique<char[]>(kBuffer));
        std::memset(buffers.back().get(), 1, kBuffer);
        livingOn.push_back(std::make_unique<char[]>(64));
    }
    EXPECT_GT(residentBytes(), before + kBuffers * kBuffer / 2);
    buffers.clear();
    EXPECT_LT(residentBytes(), before + kBuffer) << "freed buffers still resident";
}

} // namespace
} // namespace vd
