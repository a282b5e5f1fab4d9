#include "bsp/page_advice.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace meshwright {

void prefer_huge_pages(const void* start, size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    // Below this, a range holds too few huge pages to be worth the call.
    constexpr size_t min_advised_bytes = size_t{4} << 20;
    constexpr uintptr_t page_bytes = 4096;
    if (bytes < min_advised_bytes)
        return;
    // madvise takes whole pages: the ones that lie entirely in the range.
    const auto first = (reinterpret_cast<uintptr_t>(start) + page_bytes - 1) & ~(page_bytes - 1);
    const auto last = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(page_bytes - 1);
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

} // namespace meshwright
