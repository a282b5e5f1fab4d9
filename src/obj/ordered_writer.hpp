#pragma once

#include <cstddef>
#include <functional>

namespace meshwright {

// Formats chunk `index` into `out` and returns how many bytes it wrote.
using FormatChunk = std::function<size_t(size_t index, char* out)>;
// Takes the bytes of the next chunk, in order.
using WriteChunk = std::function<void(const char* data, size_t size)>;

// Formats chunks 0 to count - 1 on `threads` threads (the calling one among
// them), each into one of a fixed number of buffers of `buffer_bytes`, and
// hands them to `write` in order, one at a time, so that writing overlaps the
// formatting of later chunks and memory stays bounded. What `write` throws
// stops the work and passes on to the caller.
void write_in_order(size_t count, size_t buffer_bytes, unsigned threads, const FormatChunk& format,
                    const WriteChunk& write);

} // namespace meshwright
