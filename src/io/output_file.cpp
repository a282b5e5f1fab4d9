#include "io/output_file.hpp"

#include <cstring>
#include <random>
#include <string>

#include "io/interrupts.hpp"
#include "io/links.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

// A temporary file's name is this marker, so that a person recognises one
// left behind by a killed run, and a random suffix. Its length does not
// grow with the destination's, so every folder that takes the destination
// takes it too.
constexpr std::string_view temporary_marker = ".meshwright-tmp-";
constexpr int suffix_length = 12;
constexpr int max_name_attempts = 100;

fs::path random_temporary_name()
{
    static std::mt19937_64 random = [] {
        std::random_device device;
        return std::mt19937_64(uint64_t{device()} << 32 ^ device() ^ file_system::process_id());
    }();
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string name(temporary_marker);
    for (uint64_t bits = random(), i = 0; i < suffix_length; ++i, bits >>= 5)
        name += digits[bits & 31];
    return name;
}

fs::path followed(const fs::path& path, const char* open_failure)
{
    std::optional<fs::path> target = follow_links(path);
    if (!target)
        throw open_failure;
    return *target;
}

} // namespace

OutputFile::OutputFile(const fs::path& path, const char* open_failure, const char* write_failure,
                       const fs::path& level)
    : buffer_(new char[capacity]), destination_(followed(path, open_failure)),
      name_(destination_.filename()), folder_(destination_.parent_path()), write_failure_(write_failure)
{
    open(open_failure, level);
}

void OutputFile::open(const char* open_failure, const fs::path& level)
{
    // An empty path, or one that ends in a folder separator, names no file.
    if (name_.empty() || !folder_.opened())
        throw open_failure;
    replaced_ = file_system::inspect(folder_, name_);
    // A link left after the last hop (a loop) is no file to write.
    if (replaced_.link || (replaced_.exists && !replaced_.writable))
        throw open_failure;
    if (replaced_.exists && !replaced_.regular) {
        // Devices and FIFOs cannot be replaced, only written.
        stream_ = file_system::open_existing(folder_, name_, replaced_.fifo);
        if (!stream_)
            throw open_failure;
        return;
    }
    const size_t max_name = file_system::max_name_length(folder_);
    if (max_name > 0 && name_.native().size() > max_name)
        throw open_failure;
    file_system::CreateError error = file_system::CreateError::none;
    stream_ = create_temporary(error);
    // A folder that takes no new files may still hold a writable one; a
    // failure there loses nothing that was not already to be replaced,
    // except the level itself.
    if (!stream_ && error == file_system::CreateError::refused && replaced_.exists &&
        !(!level.empty() && same_file(destination_, level)))
        stream_ = file_system::open_existing(folder_, name_, false);
    if (!stream_)
        throw open_failure;
}

FILE* OutputFile::create_temporary(file_system::CreateError& error)
{
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        const fs::path name = random_temporary_name();
        // Created and registered as one step, so that no interrupt between
        // the two leaves it behind.
        const InterruptsHeld held;
        if (FILE* file = file_system::create_private(folder_, name, error)) {
            temporary_ = name;
            interrupt_slot_ = remove_on_interrupt(folder_, name);
            return file;
        }
        if (error != file_system::CreateError::name_taken)
            return nullptr;
    }
    return nullptr;
}

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::write(std::string_view text)
{
    bytes_written_ += text.size();
    // A block as large as the buffer goes to the file without a copy.
    if (text.size() >= capacity) {
        flush();
        if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size())
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
    if (pending > 0 && std::fwrite(buffer_.get(), 1, pending, stream_) != pending)
        throw write_failure_;
}

void OutputFile::finish()
{
    flush();
    FILE* stream = stream_;
    stream_ = nullptr;
    if (waits_for_rename())
        file_system::take_metadata(stream, replaced_, destination_);
    bool failed = std::ferror(stream) != 0;
    failed = std::fclose(stream) != 0 || failed;
    if (failed) {
        discard();
        throw write_failure_;
    }
}

void OutputFile::put_in_place()
{
    if (replaced_.exists && file_system::exchange(folder_, temporary_, name_)) {
        placed_ = Placed::swapped;
        return;
    }
    if (!file_system::replace(folder_, temporary_, name_))
        throw write_failure_;
    placed_ = replaced_.exists ? Placed::replaced : Placed::over_nothing;
}

void OutputFile::take_back()
{
    if (placed_ == Placed::swapped)
        file_system::exchange(folder_, temporary_, name_);
    else if (placed_ == Placed::over_nothing)
        file_system::replace(folder_, name_, temporary_);
    // A file renamed over another cannot be undone; without an exchange
    // the system offers nothing better.
    if (placed_ == Placed::replaced) {
        forget_on_interrupt(interrupt_slot_);
        temporary_.clear();
    }
    placed_ = Placed::no;
}

void OutputFile::let_go_of_replaced()
{
    if (placed_ == Placed::swapped)
        file_system::remove(folder_, temporary_);
    forget_on_interrupt(interrupt_slot_);
    temporary_.clear();
    placed_ = Placed::no;
}

void OutputFile::discard()
{
    if (stream_) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (waits_for_rename()) {
        file_system::remove(folder_, temporary_);
        forget_on_interrupt(interrupt_slot_);
        temporary_.clear();
    }
}

} // namespace meshwright
