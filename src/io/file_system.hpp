#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <tuple>

// The file operations that safe output needs and that differ between Linux
// and Windows. Files are made, renamed and removed by name inside an open
// folder, so that a folder moved or replaced meanwhile cannot redirect them.
namespace meshwright::file_system {

namespace fs = std::filesystem;

// Which file or folder a name stood for: its device, its number there, and
// when it was made where the system tells (numbers of removed files are
// given again to new ones).
using Identity = std::tuple<uint64_t, uint64_t, uint64_t>;

// An open handle on a folder (on Windows, its path alone).
class Folder {
  public:
    explicit Folder(const fs::path& path);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool opened() const { return handle_ != closed; }
    intptr_t handle() const { return handle_; }
    // `name` inside the folder, as a path from the working folder.
    fs::path path_of(const fs::path& name) const;
    Identity identity() const;

  private:
    static constexpr intptr_t closed = -1;
    fs::path path_;
    intptr_t handle_ = closed;
};

struct FileState {
    bool exists = false;
    bool regular = false; // a regular file, not a device, FIFO, folder or link
    bool fifo = false;
    bool link = false;
    bool writable = false; // this process may write it
    unsigned owner = 0;
    unsigned group = 0;
    unsigned permissions = 0;
    Identity identity{};
};

// The state of `name` itself (a link is not followed).
FileState inspect(const Folder& folder, const fs::path& name);

// Whether a link, FIFO or device `name` in `folder` may be used. In a folder
// that everyone may write and that keeps others from removing one's files
// (like /tmp), only those of the caller's own or of the folder's owner may,
// as the kernel's protected_symlinks and protected_fifos rules have it: one
// planted by another user neither redirects nor swallows an output.
bool may_use_planted(const Folder& folder, const fs::path& name);

// Whether files made in the folder can be removed again: not in an
// append-only or immutable folder, where a failed run would leave them.
bool takes_removable_files(const Folder& folder);

// On Windows, names like NUL, CON or COM1.txt name devices in every folder.
bool names_reserved_device(const fs::path& name);

enum class CreateError { none, name_taken, other };

// Creates `name` for writing in binary mode, only if it does not exist yet,
// readable by its owner alone. Returns nullptr and says why when it cannot.
FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error);

// Creates `name` for writing and reading back, then lets go of the name at
// once where the system can (elsewhere the file goes when it is closed), so
// that nothing is left of it however the program ends.
FILE* create_scratch(const Folder& folder, const fs::path& name, CreateError& error);

// Opens an existing device or FIFO for writing. A FIFO is given a few
// seconds for a reader to come, so that a run never waits without end.
// With `through_link`, `name` is an open file's own link (a pipe's by
// /proc/PID/fd/N), which is opened as the file it leads to.
FILE* open_special(const Folder& folder, const fs::path& name, bool fifo, bool through_link = false);

// Whether this process may look up names in `folder` (search permission),
// as the system asks of each folder a path passes through.
bool may_search(const fs::path& folder);

// The state of the file that `name`, an open file's own link, leads to.
FileState inspect_through_link(const Folder& folder, const fs::path& name);

// Whether `state` is the file, pipe or terminal of standard output, where
// the console's lines go: a model written there would be mixed with them.
// The null device is none of these.
bool is_standard_output(const FileState& state);

// The longest file name the folder takes; 0 when unknown.
size_t max_name_length(const Folder& folder);

// Has the system start writing `length` bytes from `offset` out to the
// disk, without waiting for them, so that little is left only in memory
// when the file takes its place.
void start_writeback(FILE* file, uint64_t offset, uint64_t length);

// Gives a finished file, once its last byte is written, what the file it
// replaces had, never letting anyone more read or write it: owner and group
// where the system allows (the group wherever the caller belongs to it),
// permission bits (group bits only for the same group, setuid and setgid
// only with both kept), access lists and extended attributes. A new file
// gets the permissions any new file in its folder gets. Nothing of this can
// fail the run.
void take_metadata(FILE* file, const FileState& replaced, const fs::path& replaced_path, const Folder& folder);

enum class Swap { done, failed, unsupported };

// Whether exchange() is worth a try here; where it says `unsupported` all the
// same (some file systems), a file is moved aside instead.
#if defined(__linux__)
inline constexpr bool swaps_files = true;
#else
inline constexpr bool swaps_files = false;
#endif

// Swaps the files `from` and `to` in one step, where the system can (Linux):
// the old file stays, under the name `from`, until it is removed or swapped
// back.
Swap exchange(const Folder& folder, const fs::path& from, const fs::path& to);

// Renames `from` to `to` in one step, only if nothing is named `to`; where
// the system has no such step (rename without flags, no hard links), by a
// plain rename onto a name found free just before.
bool rename_new(const Folder& folder, const fs::path& from, const fs::path& to);

void remove(const Folder& folder, const fs::path& name);

// Keeps the file `name` from being freed while the handle lives, so that
// its number is not given to another file meanwhile (which makes the
// identity of a file looked at early exact, birth times or not), and so that
// the rename that replaces it does not wait for its blocks to be released.
// no_hold where the system gives no such handle.
inline constexpr intptr_t no_hold = -1;
intptr_t hold(const Folder& folder, const fs::path& name);
void release(intptr_t held);

uint64_t process_id();

// An exclusive lock between processes on a folder, waiting at most a few
// seconds for another holder; no_lock when none could be had.
inline constexpr intptr_t no_lock = -1;
intptr_t lock_folder(const Folder& folder);
void unlock_folder(intptr_t lock);

} // namespace meshwright::file_system
