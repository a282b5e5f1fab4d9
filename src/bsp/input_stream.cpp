#include "bsp/input_stream.hpp"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstring>

#include "base/messages.hpp"

namespace meshwright {

namespace {

constexpr uint64_t unknown_size_step_bytes = 1 << 16;

// The stream's position, in 64 bits on every system; -1 when it has none.
int64_t position_of(FILE* file)
{
#if defined(_WIN32)
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

// The size of the regular file behind the stream; false for a pipe, a
// device or a stream without a file.
bool regular_file_size(FILE* file, uint64_t& size)
{
#if defined(_WIN32)
    struct _stat64 info {};
    const int descriptor = _fileno(file);
    if (descriptor < 0 || _fstat64(descriptor, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG)
        return false;
#else
    struct stat info {};
    const int descriptor = fileno(file);
    if (descriptor < 0 || fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode))
        return false;
#endif
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

} // namespace

InputStream::InputStream(FILE* file) : file_(file), buffer_(new uint8_t[buffer_bytes])
{
    const int64_t start = position_of(file);
    uint64_t size = 0;
    if (start >= 0)
        start_ = start;
    if (start >= 0 && regular_file_size(file, size)) {
        size_known_ = true;
        // Remember the size as what is left from the start position.
        size_ = size > static_cast<uint64_t>(start) ? size - static_cast<uint64_t>(start) : 0;
    }
}

size_t InputStream::fill(size_t size)
{
    assert(size <= buffer_bytes);
    if (ready() >= size)
        return ready();
    std::memmove(buffer_.get(), next(), ready());
    end_ = ready();
    begin_ = 0;
    // A file of known size is read ahead as far as the buffer and the file
    // go; a pipe only as far as asked, since more may never come.
    size_t wanted = size - end_;
    if (size_known_ && size_ > read_)
        wanted =
            static_cast<size_t>(std::min<uint64_t>(buffer_bytes - end_, std::max<uint64_t>(wanted, size_ - read_)));
    // fread returns less than asked only at the end of the file or on an error.
    const size_t got = std::fread(buffer_.get() + end_, 1, wanted, file_);
    end_ += got;
    read_ += got;
    // A read error (a directory, a failing disk) is not the end of the file.
    if (got < wanted && std::ferror(file_))
        throw messages::unreadable_input;
    return ready();
}

void InputStream::read_exact(uint8_t* out, size_t size)
{
    if (fill(size) < size)
        throw_unexpected_end();
    std::memcpy(out, next(), size);
    consume(size);
}

size_t InputStream::reservable(uint64_t count, size_t record_size) const
{
    uint64_t available_bytes = unknown_size_step_bytes;
    if (size_known_)
        available_bytes = size_ > consumed_ ? size_ - consumed_ : 0;
    return static_cast<size_t>(std::min(count, available_bytes / record_size));
}

void throw_unexpected_end()
{
    throw messages::unexpected_end;
}

} // namespace meshwright
