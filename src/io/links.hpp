#pragma once

#include <filesystem>
#include <optional>

namespace meshwright {

// The file that `path` names, as a path with every link on the way
// resolved, as the system resolves them. Nothing when a link may not be
// followed: in a folder that everyone may write and that keeps others from
// removing one's files (like /tmp), only links of the caller's own or of the
// folder's owner are, whether they stand for the file or for a folder on the
// way and whatever the system's own setting, so that a link planted by
// another user cannot send an output elsewhere. Nothing, too, for a loop,
// and for ".." after a name that is no folder (a link that leads nowhere).
std::optional<std::filesystem::path> follow_links(const std::filesystem::path& path);

// Whether `path` is an open file's own link that names no path, such as a
// pipe's or a socket's "/proc/PID/fd/N" (also reached as "/dev/fd/N" or a
// shell's process substitution): the system reaches the open file through
// it, so it is the file itself.
bool is_open_file_link(const std::filesystem::path& path);

// Whether `path` leads through an open file's link, such as "/dev/stderr"
// or "/dev/fd/3", whatever the file it leads to: a stream that a shell
// handed over, with no folder to put other files beside.
bool reached_through_open_file(const std::filesystem::path& path);

// Whether the two paths name the same file: the same file when both exist,
// otherwise the same place once links and "." or ".." are resolved (on
// Windows, in any case of letters).
bool same_file(const std::filesystem::path& first, const std::filesystem::path& second);

} // namespace meshwright
