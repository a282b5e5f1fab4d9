#pragma once

#include <cstdio>
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

    // Writes `text`: through the buffer when it is small, directly when it
    // is as large as the buffer.
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

} // namespace meshwright
