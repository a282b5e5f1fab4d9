#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "io/file_system.hpp"

namespace meshwright {

// One output file, written so that no failed, stopped or racing run damages
// what was there before: the bytes go into a new temporary file beside the
// destination, readable by the caller alone, which commit_outputs() puts in
// place in one step (a swap or a rename) once it is complete. Only where
// nothing can be lost is the destination written in place: a device or
// FIFO, or an existing file in a folder that refuses new files (never the
// level itself).
//
// Writes go through one bounded buffer; every failure to open, write or
// close is thrown as the message text given for it, so that a full disk
// never passes for success.
class OutputFile {
  public:
    // Opens the file for writing; throws `open_failure` when it cannot or
    // may not: a destination the caller may not write, a name too long for
    // its folder, a link planted by another user, a temporary file that
    // cannot be made for any reason but a folder that refuses new files.
    // `level` is the level file, when it is one.
    OutputFile(const std::filesystem::path& path, const char* open_failure, const char* write_failure,
               const std::filesystem::path& level = {});
    // Without a commit, removes the temporary file and leaves the
    // destination as it was.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Whether the destination is a regular file, or will be a new one.
    bool regular_destination() const { return !replaced_.exists || replaced_.regular; }

    void write(std::string_view text);

    // Writes what is buffered, gives the file the metadata of the one it
    // replaces and closes it: complete, but not in place yet.
    void finish();

    // Used by commit_outputs().
    bool waits_for_rename() const { return !temporary_.empty(); }
    uint64_t bytes_written() const { return bytes_written_; }
    const file_system::Folder& folder() const { return folder_; }
    const std::filesystem::path& destination() const { return destination_; }
    const std::filesystem::path& name() const { return name_; }
    // Puts the finished file in place of its destination; throws the write
    // failure when it cannot. Where the system can, the old file is kept
    // under the temporary name until let_go_of_replaced(), so that
    // take_back() can undo the step when another file of the set fails.
    void put_in_place();
    void take_back();
    void let_go_of_replaced();

    static constexpr size_t capacity = 1 << 18;

  private:
    void open(const char* open_failure, const std::filesystem::path& level);
    FILE* create_temporary(file_system::CreateError& error);
    void flush();
    void discard();

    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    uint64_t bytes_written_ = 0;
    std::filesystem::path destination_; // links followed
    std::filesystem::path name_;        // its file name
    file_system::Folder folder_;        // its folder
    file_system::FileState replaced_;
    std::filesystem::path temporary_; // its name in the folder; empty when written in place
    enum class Placed { no, over_nothing, replaced, swapped } placed_ = Placed::no;
    int interrupt_slot_ = -1;
    FILE* stream_ = nullptr;
    const char* write_failure_;
};

} // namespace meshwright
