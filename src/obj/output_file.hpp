#pragma once

#include <cassert>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "obj/replaced_file.hpp"

namespace meshwright {

// A text file written through one bounded buffer. Every failure to open,
// write or close it is thrown as the message text given for it, so a full
// disk never passes for success. The file replaces its destination only when
// close() succeeds; otherwise the destination stays as it was.
class OutputFile {
  public:
    OutputFile(const std::string& path, const char* open_failure, const char* write_failure);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns room for at least `size` bytes; hand the end of what was
    // written there to commit().
    char* room(size_t size)
    {
        // Every line is far shorter than the buffer, so one flush makes room.
        assert(size <= capacity);
        if (capacity - used_ < size)
            flush();
        return buffer_.get() + used_;
    }
    void commit(char* end)
    {
        assert(end >= buffer_.get() + used_ && end <= buffer_.get() + capacity);
        used_ = static_cast<size_t>(end - buffer_.get());
    }

    void write(std::string_view text);

    // Writes what is buffered, closes the file and puts it in place.
    void close();

    static constexpr size_t capacity = 1 << 18;

  private:
    void flush();

    std::unique_ptr<char[]> buffer_;
    ReplacedFile file_;
    const char* write_failure_;
    size_t used_ = 0;
};

// Appends `text` at `out` and returns the end.
inline char* append(char* out, std::string_view text)
{
    return static_cast<char*>(std::memcpy(out, text.data(), text.size())) + text.size();
}

} // namespace meshwright
