#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace meshwright {

// Reads a level file front to back through a buffer of its own, so that the
// many small records of a level cost no call into the C library each. From a
// file of known size it reads ahead in large blocks; from a stream of unknown
// size (a pipe) it reads only what is asked for, never past the level's end.
class InputStream {
  public:
    static constexpr size_t buffer_bytes = size_t{256} << 10;

    explicit InputStream(FILE* file);

    // Makes at least `size` bytes (at most buffer_bytes) ready at next() and
    // returns how many are ready: fewer than `size` only at the end of the
    // file. Throws when the file cannot be read.
    size_t fill(size_t size);

    const uint8_t* next() const { return buffer_.get() + begin_; }
    size_t ready() const { return end_ - begin_; }
    void consume(size_t size)
    {
        assert(size <= ready());
        begin_ += size;
        consumed_ += size;
    }

    // Reads exactly `size` bytes, or rejects the file as ending early.
    void read_exact(uint8_t* out, size_t size);

    // How many of `count` records of `record_size` bytes a list may make room
    // for now: all of them when the file is known to hold them, otherwise no
    // more than the file can still supply, or one bounded step when its size
    // is unknown (a pipe).
    size_t reservable(uint64_t count, size_t record_size) const;

    // Where the level's bytes consumed so far end in the file.
    int64_t position() const { return start_ + static_cast<int64_t>(consumed_); }

  private:
    FILE* file_;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t begin_ = 0; // the next unconsumed byte in the buffer
    size_t end_ = 0;   // the end of what the buffer holds
    uint64_t consumed_ = 0;
    uint64_t read_ = 0; // bytes taken from the file, consumed or not
    int64_t start_ = 0;
    bool size_known_ = false;
    uint64_t size_ = 0;
};

[[noreturn]] void throw_unexpected_end();

} // namespace meshwright
