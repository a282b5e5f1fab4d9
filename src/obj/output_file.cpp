#include "obj/output_file.hpp"

#include <cstring>

namespace meshwright {

OutputFile::OutputFile(const std::string& path, const char* open_failure, const char* write_failure)
    : buffer_(new char[capacity]), file_(path, open_failure), write_failure_(write_failure)
{
}

void OutputFile::write(std::string_view text)
{
    // A block as large as the buffer goes to the file without a copy.
    if (text.size() >= capacity) {
        flush();
        if (std::fwrite(text.data(), 1, text.size(), file_.stream()) != text.size())
            throw write_failure_;
        return;
    }
    if (text.size() > capacity - used_)
        flush();
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
}

void OutputFile::flush()
{
    const size_t pending = used_;
    used_ = 0;
    if (std::fwrite(buffer_.get(), 1, pending, file_.stream()) != pending)
        throw write_failure_;
}

void OutputFile::close()
{
    flush();
    file_.finish(write_failure_);
}

} // namespace meshwright
