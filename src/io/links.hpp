#pragma once

#include <filesystem>
#include <optional>

namespace meshwright {

// The file that `path` finally names after following symbolic links, as a
// path; `path` itself when it is no link. Nothing when a link may not be
// followed: in a folder that everyone may write and that keeps others from
// removing one's files (like /tmp), only links of the caller's own or of the
// folder's owner are, whatever the system's own setting, so that a link
// planted by another user cannot send an output elsewhere.
std::optional<std::filesystem::path> follow_links(const std::filesystem::path& path);

// Whether the two paths name the same file: the same file when both exist,
// otherwise the same place once links and "." or ".." are resolved (on
// Windows, in any case of letters).
bool same_file(const std::filesystem::path& first, const std::filesystem::path& second);

} // namespace meshwright
