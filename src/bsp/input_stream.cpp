#include "bsp/input_stream.hpp"

#include <algorithm>
#include <sys/stat.h>

#include "base/messages.hpp"

namespace meshwright {

namespace {

constexpr uint64_t unknown_size_step_bytes = 1 << 16;

}

InputStream::InputStream(FILE* file) : file_(file)
{
    struct stat info {};
    long start = std::ftell(file);
    int descriptor = fileno(file);
    if (start >= 0 && descriptor >= 0 && fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) {
        size_known_ = true;
        size_ = static_cast<uint64_t>(info.st_size);
        // Remember the size as what is left from the start position.
        size_ = size_ > static_cast<uint64_t>(start) ? size_ - static_cast<uint64_t>(start) : 0;
    }
}

size_t InputStream::read_some(uint8_t* out, size_t size)
{
    size_t got = std::fread(out, 1, size, file_);
    consumed_ += got;
    // A read error (a directory, a failing disk) is not the end of the file.
    if (got != size && std::ferror(file_))
        throw messages::unreadable_input;
    return got;
}

void InputStream::read_exact(uint8_t* out, size_t size)
{
    if (read_some(out, size) != size)
        throw_unexpected_end();
}

size_t InputStream::reservable(uint64_t count, size_t record_size) const
{
    uint64_t available_bytes = unknown_size_step_bytes;
    if (size_known_)
        available_bytes = size_ > consumed_ ? size_ - consumed_ : 0;
    return static_cast<size_t>(std::min(count, available_bytes / record_size));
}

long InputStream::position() const
{
    long position = std::ftell(file_);
    return position >= 0 ? position : static_cast<long>(consumed_);
}

void throw_unexpected_end()
{
    throw messages::unexpected_end;
}

} // namespace meshwright
