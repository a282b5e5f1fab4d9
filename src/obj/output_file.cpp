#include "obj/output_file.hpp"

namespace meshwright {

OutputFile::OutputFile(const std::string& path, const char* open_failure, const char* write_failure)
    : buffer_(new char[capacity]), file_(path, open_failure), write_failure_(write_failure)
{
}

void OutputFile::write(std::string_view text)
{
    while (text.size() > capacity - used_) {
        const size_t part = capacity - used_;
        commit(append(buffer_.get() + used_, text.substr(0, part)));
        text.remove_prefix(part);
        flush();
    }
    commit(append(buffer_.get() + used_, text));
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
