#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "io/file_system.hpp"

namespace meshwright {

// One output file, written so that no failed, stopped or racing run damages
// what was there before: the bytes go into a new temporary file beside the
// destination, readable by the caller alone, which commit_outputs() puts in
// place in one step once it is complete. Only a device or FIFO, which
// cannot be replaced, is written in place; a regular file that cannot be
// staged beside is refused, never written over.
//
// Writes go through one bounded buffer and are started out to the disk as
// they go; every failure to open, write or close is thrown as the message
// text given for it, so that a full disk never passes for success.
class OutputFile {
  public:
    // Opens the file for writing; throws `open_failure` when it cannot or
    // may not: a destination the caller may not write, a name too long for
    // its folder, a link, FIFO or device planted by another user, a folder
    // that would keep a failed run's files, a temporary file that cannot be
    // made.
    OutputFile(const std::filesystem::path& path, const char* open_failure, const char* write_failure);
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
    const std::filesystem::path& name() const { return name_; }
    // Where the system cannot swap two files, moves the file to be replaced
    // aside under a name of its own (".meshwright-old-" and a suffix), so
    // that a file held open by another program fails the set before
    // anything changed.
    void set_aside();
    // Puts the finished file in place of its destination, where the system
    // can by swapping the two. Throws the write failure when the destination
    // is no longer what it was at the start (a folder, or a file made
    // meanwhile where there was none), leaving it as it is.
    void put_in_place();
    // Undoes set_aside() and put_in_place(), whichever were done, as far as
    // the names still hold what this run put there: a file that another
    // program put at the destination meanwhile stays, and the replaced file
    // then keeps a name of its own (".meshwright-old-" and a suffix).
    void take_back();
    // Removes the replaced file, once the whole set is in place.
    void let_go_of_replaced();

    static constexpr size_t capacity = 1 << 18;
    static constexpr size_t direct_write_bytes = capacity / 4;

  private:
    void open(const char* open_failure);
    void move_aside();
    FILE* create_temporary();
    void flush();
    void start_writeback(bool all);
    bool is_replaced(const std::filesystem::path& name) const;
    bool is_ours(const std::filesystem::path& name) const;
    void keep_replaced_at(const std::filesystem::path& name);
    void discard();

    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    uint64_t bytes_written_ = 0;
    uint64_t written_out_ = 0;           // bytes whose writeback has been started
    std::filesystem::path destination_; // links followed
    std::filesystem::path name_;        // its file name
    file_system::Folder folder_;        // its folder
    file_system::FileState replaced_;
    intptr_t replaced_held_ = file_system::no_hold; // the replaced file, held from the start
    file_system::Identity ours_{};                  // the file this run writes
    intptr_t ours_held_ = file_system::no_hold;
    std::filesystem::path temporary_; // its name in the folder; empty when written in place
    std::filesystem::path aside_;     // the replaced file's name while set aside
    enum class Placed { no, swapped, renamed } placed_ = Placed::no;
    int interrupt_slot_ = -1;
    FILE* stream_ = nullptr;
    const char* write_failure_;
};

// Bytes set aside in a file while a run works, to be read back before it
// ends: made in an output's folder, where the output itself will take the
// same room, under no name that outlives it (the system removes it however
// the program ends). Every failure is thrown as `failure`.
class ScratchFile {
  public:
    ScratchFile(const file_system::Folder& folder, const char* failure);
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    void write(std::string_view bytes);
    uint64_t size() const { return size_; }
    // Reads `length` bytes from `offset` back, handing them to `take` in
    // pieces of at most `OutputFile::capacity` bytes.
    void read(uint64_t offset, uint64_t length, const std::function<void(std::string_view)>& take);

  private:
    FILE* stream_ = nullptr;
    uint64_t size_ = 0;
    bool reading_ = false;
    const char* failure_;
};

} // namespace meshwright
