#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>

// The file operations that safe output needs and that differ between Linux
// and Windows. Files are made, renamed and removed by name inside an open
// folder, so that a folder moved or replaced meanwhile cannot redirect them.
namespace meshwright::file_system {

namespace fs = std::filesystem;

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

  private:
    static constexpr intptr_t closed = -1;
    fs::path path_;
    intptr_t handle_ = closed;
};

struct FileState {
    bool exists = false;
    bool regular = false;  // a regular file, not a device, FIFO, folder or link
    bool fifo = false;
    bool link = false;
    bool writable = false; // this process may write it
    unsigned owner = 0;
    unsigned group = 0;
    unsigned permissions = 0;
};

// The state of `name` itself (a link is not followed).
FileState inspect(const Folder& folder, const fs::path& name);

// Whether the link `name` in `folder` may be followed: in a folder that
// everyone may write and that keeps others from removing one's files (like
// /tmp), only links of the caller's own or of the folder's owner are.
bool may_follow_link(const Folder& folder, const fs::path& name);

enum class CreateError { none, name_taken, refused, other };

// Creates `name` for writing in binary mode, only if it does not exist yet,
// readable by its owner alone. Returns nullptr and says why when it cannot:
// `refused` when the folder takes no new files from this process.
FILE* create_private(const Folder& folder, const fs::path& name, CreateError& error);

// Opens an existing file for writing over its content. A FIFO is given a few
// seconds for a reader to come, so that a run never waits without end.
FILE* open_existing(const Folder& folder, const fs::path& name, bool fifo);

// The longest file name the folder takes; 0 when unknown.
size_t max_name_length(const Folder& folder);

// Gives a finished file what the file it replaces had: owner and group where
// the system allows, permission bits (setuid and setgid only with both kept),
// access lists and extended attributes; a new file gets the permissions any
// new file gets. Nothing of this can fail the run.
void take_metadata(FILE* file, const FileState& replaced, const fs::path& replaced_path);

// Renames `from` over `to` in one step: others see the old file or the new
// one, never neither.
bool replace(const Folder& folder, const fs::path& from, const fs::path& to);

// Swaps the files `from` and `to` in one step, where the system can (Linux):
// the old file stays, under the name `from`, until it is removed or swapped
// back. False where it cannot; then replace() is the way.
bool exchange(const Folder& folder, const fs::path& from, const fs::path& to);

void remove(const Folder& folder, const fs::path& name);

// Keeps the file `name` from being freed while the handle lives, so that the
// rename that replaces it does not wait for its blocks to be released.
intptr_t hold(const Folder& folder, const fs::path& name);
void release(intptr_t held);

uint64_t process_id();

// An exclusive lock between processes on a folder, waiting at most a few
// seconds for another holder; no_lock when none could be had.
inline constexpr intptr_t no_lock = -1;
intptr_t lock_folder(const fs::path& folder);
void unlock_folder(intptr_t lock);

} // namespace meshwright::file_system
