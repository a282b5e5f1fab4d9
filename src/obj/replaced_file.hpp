#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace meshwright {

// One output file, written so that no failed, stopped or racing run damages
// what was there before: the bytes go into a new temporary file beside the
// destination, which replaces the destination in one rename only once it is
// complete. Destinations that are not regular files (devices, FIFOs), and
// those whose folder refuses new files, are written in place instead.
class ReplacedFile {
  public:
    // Opens the file for writing; throws `open_failure` when it cannot.
    ReplacedFile(const std::string& path, const char* open_failure);
    // Without a successful finish(), removes the temporary file and leaves
    // the destination as it was.
    ~ReplacedFile();
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    FILE* stream() const { return stream_; }

    // Closes the file and puts it in place; throws `write_failure` when any
    // write, the close or the rename failed.
    void finish(const char* write_failure);

  private:
    void discard();

    std::string destination_;
    std::string temporary_; // empty when writing in place
    FILE* stream_ = nullptr;
};

// The file that `path` finally names after following symbolic links, as a
// path; `path` itself when it is no link.
std::string final_target(const std::string& path);

// Whether the two paths name the same file: the same device and inode when
// both exist, otherwise the same place once links and "." or ".." are
// resolved.
bool same_file(const std::string& first, const std::string& second);

// Holds an advisory lock on the folder of `path` while it lives, so that runs
// writing the same output one after the other put their OBJ and material
// files in place as a pair. Best effort: where the lock cannot be taken, it
// does nothing.
class FolderLock {
  public:
    explicit FolderLock(const std::string& path);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    intptr_t lock_;
};

} // namespace meshwright
