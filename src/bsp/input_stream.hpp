#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace meshwright {

// Reads a level file front to back in exact amounts, never past what the
// caller asks for, so the stream's position is always the number of bytes
// consumed.
class InputStream {
  public:
    explicit InputStream(FILE* file);

    // Reads up to `size` bytes and returns how many arrived; fewer only at
    // the end of the file. Throws when the file cannot be read.
    size_t read_some(uint8_t* out, size_t size);

    // Reads exactly `size` bytes, or rejects the file as ending early.
    void read_exact(uint8_t* out, size_t size);

    // How many of `count` records of `record_size` bytes a list may make room
    // for now: all of them when the file is known to hold them, otherwise no
    // more than the file can still supply, or one bounded step when its size
    // is unknown (a pipe).
    size_t reservable(uint64_t count, size_t record_size) const;

    // The stream's own position, or the bytes consumed when it has none.
    long position() const;

  private:
    FILE* file_;
    uint64_t consumed_ = 0;
    bool size_known_ = false;
    uint64_t size_ = 0;
};

[[noreturn]] void throw_unexpected_end();

} // namespace meshwright
