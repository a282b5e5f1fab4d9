#pragma once

#include <cstddef>

namespace meshwright {

// Asks the system to back a large memory range that is about to be filled
// with huge pages, so that filling it costs a few page faults instead of
// thousands. Only advice: where the system has no such thing, nothing changes.
void prefer_huge_pages(const void* start, size_t bytes);

} // namespace meshwright
