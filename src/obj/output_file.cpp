#include "obj/output_file.hpp"

OutputFile::OutputFile(const std::string& path, const char* open_failure, const char* write_failure)
    : buffer_(new char[capacity]), file_(std::fopen(path.c_str(), "w")), write_failure_(write_failure)
{
    if (!file_)
        throw open_failure;
}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
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
    if (std::fwrite(buffer_.get(), 1, pending, file_) != pending)
        throw write_failure_;
}

void OutputFile::close()
{
    flush();
    FILE* file = file_;
    file_ = nullptr;
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed)
        throw write_failure_;
}
