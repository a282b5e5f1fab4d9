#include "io/output_file.hpp"

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/portability.hpp"
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
// A replaced file set aside, which stays under such a name when it cannot
// go back (another program made a file at its name meanwhile).
constexpr std::string_view old_marker = ".meshwright-old-";
constexpr int suffix_length = 12;
constexpr int max_name_attempts = 100;

fs::path random_name(std::string_view marker)
{
    static std::mt19937_64 random = [] {
        std::random_device device;
        return std::mt19937_64(uint64_t{device()} << 32 ^ device() ^ file_system::process_id());
    }();
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuv";
    std::string name(marker);
    for (uint64_t bits = random(), i = 0; i < suffix_length; ++i, bits >>= 5)
        name += digits[bits & 31];
    return name;
}

fs::path random_temporary_name()
{
    return random_name(temporary_marker);
}

fs::path followed(const fs::path& path, const char* open_failure)
{
    std::optional<fs::path> target = follow_links(path);
    if (!target)
        throw open_failure;
    return *target;
}

// Writeback is started every this many bytes: little enough that a power
// cut right after a run finds almost nothing only in memory, much enough
// that the disk gets long runs.
constexpr uint64_t writeback_step = 1 << 20;
constexpr uint64_t writeback_lag = 8 << 20;

} // namespace

OutputFile::OutputFile(const fs::path& path, const char* open_failure, const char* write_failure)
    : buffer_(new char[capacity]), destination_(followed(path, open_failure)),
      name_(destination_.filename()), folder_(destination_.parent_path()), write_failure_(write_failure)
{
    open(open_failure);
}

void OutputFile::open(const char* open_failure)
{
    // An empty path, or one that ends in a folder separator, names no file.
    if (name_.empty() || !folder_.opened())
        throw open_failure;
    // Held first and looked at after, so that the file looked at is the one
    // held: its number is then given to no other file while the run lives.
    replaced_held_ = file_system::hold(folder_, name_);
    replaced_ = file_system::inspect(folder_, name_);
    // A pipe or socket reached by its open file's link is written as any
    // FIFO is; a regular file reached that way was followed to its name.
    const bool through_link = replaced_.link && is_open_file_link(destination_);
    if (through_link)
        replaced_ = file_system::inspect_through_link(folder_, name_);
    // A link left after the last hop (a loop) is no file to write.
    if ((replaced_.link && !through_link) || (replaced_.exists && !replaced_.writable) ||
        (through_link && replaced_.regular))
        throw open_failure;
    if (file_system::is_standard_output(replaced_))
        throw messages::output_is_standard_output;
    if (replaced_.exists && !replaced_.regular) {
        // Devices and FIFOs cannot be replaced, only written.
        if (!file_system::may_use_planted(folder_, name_) ||
            !(stream_ = file_system::open_special(folder_, name_, replaced_.fifo, through_link)))
            throw open_failure;
        return;
    }
    const size_t max_name = file_system::max_name_length(folder_);
    if ((max_name > 0 && name_.native().size() > max_name) || !file_system::takes_removable_files(folder_))
        throw open_failure;
    stream_ = create_temporary();
    if (!stream_)
        throw open_failure;
    // The buffer here is the only one: each block goes to the file in one
    // write, which also keeps the data that is started out to the disk in
    // whole runs.
    std::setvbuf(stream_, nullptr, _IONBF, 0);
}

FILE* OutputFile::create_temporary()
{
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        const fs::path name = random_temporary_name();
        // Created and registered as one step, so that no interrupt between
        // the two, in this thread or another, leaves it behind.
        const InterruptsDeferred deferred;
        file_system::CreateError error = file_system::CreateError::none;
        if (FILE* file = file_system::create_private(folder_, name, error)) {
            temporary_ = name;
            interrupt_slot_ = remove_on_interrupt(folder_, name);
            ours_held_ = file_system::hold(folder_, name);
            ours_ = file_system::inspect(folder_, name).identity;
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
    file_system::release(replaced_held_);
    file_system::release(ours_held_);
}

void OutputFile::write(std::string_view text)
{
    bytes_written_ += text.size();
    // A large block goes to the file without a copy: the OBJ's blocks are a
    // quarter of the buffer and more, and copying each would cost as much
    // processor time as the system's own copy into the file.
    if (text.size() >= direct_write_bytes) {
        flush();
        if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size())
            throw write_failure_;
        start_writeback(false);
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
    start_writeback(false);
}

void OutputFile::start_writeback(bool all)
{
    // Only what lies well behind the end: the system skips pages that are
    // being written out when the next bytes land in them (a page cache
    // block may hold megabytes), and leaves them for its own writeback,
    // seconds later.
    const uint64_t written = bytes_written_ - used_;
    const uint64_t until = all ? written : written - std::min(written, writeback_lag);
    if (!waits_for_rename() || until <= written_out_ || (!all && until - written_out_ < writeback_step))
        return;
    if (std::fflush(stream_) != 0)
        throw write_failure_;
    file_system::start_writeback(stream_, written_out_, until - written_out_);
    written_out_ = until;
}

void OutputFile::finish()
{
    flush();
    // The metadata comes after the last byte: a write clears setuid, setgid
    // and capabilities.
    if (std::fflush(stream_) != 0)
        throw write_failure_;
    start_writeback(true);
    FILE* stream = stream_;
    stream_ = nullptr;
    if (waits_for_rename())
        file_system::take_metadata(stream, replaced_, destination_, folder_);
    bool failed = std::ferror(stream) != 0;
    failed = std::fclose(stream) != 0 || failed;
    if (failed) {
        discard();
        throw write_failure_;
    }
}

bool OutputFile::is_replaced(const fs::path& name) const
{
    const file_system::FileState now = file_system::inspect(folder_, name);
    return now.exists && now.identity == replaced_.identity;
}

bool OutputFile::is_ours(const fs::path& name) const
{
    // By device and number alone: the file is held from its creation, so its
    // number is no other's while the run lives, whatever times are told of
    // it (Wine's for a file being written change).
    const file_system::FileState now = file_system::inspect(folder_, name);
    return now.exists && std::get<0>(now.identity) == std::get<0>(ours_) &&
           std::get<1>(now.identity) == std::get<1>(ours_);
}

// The replaced file, at `name`, cannot go back: it keeps a name of its own,
// never one that a person would delete as a failed run's.
void OutputFile::keep_replaced_at(const fs::path& name)
{
    for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
        if (file_system::rename_new(folder_, name, random_name(old_marker)))
            break;
    }
    if (name == temporary_) {
        forget_on_interrupt(interrupt_slot_);
        temporary_.clear();
    }
}

void OutputFile::set_aside()
{
    if (!file_system::swaps_files)
        move_aside();
}

void OutputFile::move_aside()
{
    if (!replaced_.exists || !aside_.empty())
        return;
    const fs::path aside = random_name(old_marker);
    if (!file_system::rename_new(folder_, name_, aside))
        throw write_failure_;
    aside_ = aside;
    // What stood there may have been replaced meanwhile, by a folder even.
    if (!is_replaced(aside_)) {
        take_back();
        throw write_failure_;
    }
}

void OutputFile::put_in_place()
{
    if (replaced_.exists && aside_.empty()) {
        switch (file_system::exchange(folder_, temporary_, name_)) {
        case file_system::Swap::done:
            placed_ = Placed::swapped;
            if (!is_replaced(temporary_)) {
                take_back();
                throw write_failure_;
            }
            return;
        case file_system::Swap::failed:
            throw write_failure_;
        case file_system::Swap::unsupported:
            move_aside();
            break;
        }
    }
    // Where nothing stood, or the old file stands aside: a file made at the
    // name meanwhile is another program's, and stays.
    if (!file_system::rename_new(folder_, temporary_, name_))
        throw write_failure_;
    placed_ = Placed::renamed;
}

void OutputFile::take_back()
{
    // Only a name that still holds this run's file is undone; another
    // program's file that took it meanwhile stays.
    const bool ours_in_place = placed_ != Placed::no && is_ours(name_);
    if (placed_ == Placed::swapped && ours_in_place)
        file_system::exchange(folder_, temporary_, name_);
    else if (placed_ == Placed::swapped)
        keep_replaced_at(temporary_);
    else if (placed_ == Placed::renamed && ours_in_place)
        file_system::rename_new(folder_, name_, temporary_);
    placed_ = Placed::no;
    // The replaced file goes back where nothing took its name; otherwise it
    // keeps its name of its own.
    if (!aside_.empty() && file_system::rename_new(folder_, aside_, name_))
        aside_.clear();
}

void OutputFile::let_go_of_replaced()
{
    if (placed_ == Placed::swapped && is_replaced(temporary_))
        file_system::remove(folder_, temporary_);
    if (!aside_.empty())
        file_system::remove(folder_, aside_);
    aside_.clear();
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
        if (is_ours(temporary_))
            file_system::remove(folder_, temporary_);
        forget_on_interrupt(interrupt_slot_);
        temporary_.clear();
    }
}

ScratchFile::ScratchFile(const file_system::Folder& folder, const char* failure) : failure_(failure)
{
    for (int attempt = 0; attempt < max_name_attempts && !stream_; ++attempt) {
        // Made and let go of as one step, so that no interrupt between the
        // two, in this thread or another, leaves it behind.
        const InterruptsDeferred deferred;
        file_system::CreateError error = file_system::CreateError::none;
        stream_ = file_system::create_scratch(folder, random_temporary_name(), error);
        if (!stream_ && error != file_system::CreateError::name_taken)
            break;
    }
    if (!stream_)
        throw failure_;
}

ScratchFile::~ScratchFile()
{
    if (stream_)
        std::fclose(stream_);
}

void ScratchFile::write(std::string_view bytes)
{
    if (reading_ || std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
        throw failure_;
    size_ += bytes.size();
}

void ScratchFile::read(uint64_t offset, uint64_t length, const std::function<void(std::string_view)>& take)
{
    reading_ = true;
    if (offset + length > size_ || std::fflush(stream_) != 0 ||
        seek_file(stream_, offset) != 0)
        throw failure_;
    std::vector<char> piece(static_cast<size_t>(std::min<uint64_t>(length, OutputFile::capacity)));
    for (uint64_t left = length; left > 0;) {
        const auto count = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        if (std::fread(piece.data(), 1, count, stream_) != count)
            throw failure_;
        take({piece.data(), count});
        left -= count;
    }
}

} // namespace meshwright
