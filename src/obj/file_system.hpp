#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The few file operations that safe output needs and that differ between
// Linux and Windows. Names are UTF-8.
namespace meshwright::file_system {

struct FileState {
    bool exists = false;
    bool regular = false;  // a regular file, not a device, FIFO or folder
    bool writable = false; // this process may write it
    unsigned permissions = 0;
};

FileState inspect(const std::string& name);

// Creates `name` for writing in binary mode, only if it does not exist yet,
// with the permissions a new file gets. Returns nullptr when it cannot, and
// sets `exists` when the reason is that the name is taken.
FILE* create_new(const std::string& name, bool& exists);

// Gives an open file the permission bits of the file it will replace.
void copy_permissions(FILE* file, unsigned permissions);

// Renames `from` over `to` in one step: other programs see the old file or
// the new one, never neither.
bool replace(const std::string& from, const std::string& to);

void remove(const std::string& name);

uint64_t process_id();

// An exclusive lock between processes, named after a folder; no_lock when
// none could be taken.
inline constexpr intptr_t no_lock = -1;
intptr_t lock_folder(const std::string& folder);
void unlock_folder(intptr_t lock);

} // namespace meshwright::file_system
