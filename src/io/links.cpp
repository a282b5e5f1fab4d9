#include "io/links.hpp"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "io/file_system.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

// Links are followed at most this often, as the system itself does.
constexpr int max_link_hops = 40;

bool is_link(const fs::path& path)
{
    std::error_code ignored;
    return fs::is_symlink(fs::symlink_status(path, ignored));
}

// Follows links without asking whose they are, as far as they go.
fs::path final_target(const fs::path& path)
{
    fs::path current = path;
    for (int hop = 0; hop < max_link_hops && is_link(current); ++hop) {
        std::error_code error;
        const fs::path link = fs::read_symlink(current, error);
        if (error)
            break;
        current = current.parent_path() / link; // an absolute link replaces the whole path
    }
    return current;
}

// Where a file that does not exist yet would be created: the absolute path
// with the links of its existing folders resolved.
fs::path place_of(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path.lexically_normal();
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    fs::path place = error ? absolute.lexically_normal() : resolved;
#if defined(_WIN32)
    // Windows' file names are the same in any case of letters.
    fs::path::string_type text = place.native();
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); });
    place = text;
#endif
    return place;
}

#if defined(__linux__)
// Whether `folder` is a process's folder of open files, "/proc/PID/fd".
bool is_open_files_folder(const fs::path& folder)
{
    return folder.filename() == "fd" && folder.parent_path().parent_path() == "/proc";
}
#endif

} // namespace

bool is_open_file_link([[maybe_unused]] const fs::path& path)
{
#if defined(__linux__)
    std::error_code error;
    return is_open_files_folder(path.parent_path()) && is_link(path) &&
           !fs::read_symlink(path, error).has_root_path() && !error;
#else
    return false;
#endif
}

bool reached_through_open_file([[maybe_unused]] const fs::path& path)
{
#if defined(__linux__)
    fs::path current = path;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        std::error_code error;
        if (is_open_files_folder(fs::weakly_canonical(fs::absolute(current, error).parent_path(), error)))
            return true;
        const fs::path link = fs::read_symlink(current, error);
        if (error)
            return false;
        current = current.parent_path() / link;
    }
#endif
    return false;
}

std::optional<fs::path> follow_links(const fs::path& path)
{
    // A path that ends in a separator names no file; it is left for the
    // caller to refuse.
    if (path.empty() || !path.has_filename())
        return path;
    fs::path resolved = path.root_path(); // the part walked so far, free of links
    std::vector<fs::path> ahead;          // the parts still to walk, the next one last
    const auto walk_later = [&](const fs::path& parts) {
        std::vector<fs::path> in_order(parts.begin(), parts.end());
        ahead.insert(ahead.end(), in_order.rbegin(), in_order.rend());
    };
    walk_later(path.relative_path());
    int hops = 0;
    while (!ahead.empty()) {
        const fs::path part = ahead.back();
        ahead.pop_back();
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !resolved.empty() && resolved.filename() != ".." && resolved != resolved.root_path()) {
#if !defined(_WIN32)
            // As the system does: ".." leaves a folder that is there and
            // that the caller may search, and a link that leads nowhere ends
            // the path. (Windows takes ".." out of a path by its letters
            // alone.)
            std::error_code error;
            if (!fs::is_directory(fs::symlink_status(resolved, error)) || !file_system::may_search(resolved))
                return std::nullopt;
#endif
            resolved = resolved.parent_path();
            continue;
        }
        const fs::path next = resolved / part;
        if (!is_link(next)) {
            resolved = next;
            continue;
        }
        if (is_open_file_link(next)) {
            if (!ahead.empty())
                return std::nullopt;
            resolved = next;
            continue;
        }
        // Every link on the way, a folder's as much as the file's, must be
        // one the caller may follow.
        const file_system::Folder folder(resolved);
        std::error_code error;
        const fs::path target = fs::read_symlink(next, error);
        if (++hops > max_link_hops || error || !folder.opened() || !file_system::may_use_planted(folder, part))
            return std::nullopt;
        if (target.has_root_path())
            resolved = target.root_path();
        walk_later(target.relative_path());
    }
    return resolved;
}

bool same_file(const fs::path& first, const fs::path& second)
{
    const fs::path a = final_target(first);
    const fs::path b = final_target(second);
    std::error_code error;
    const bool a_exists = fs::exists(a, error);
    const bool b_exists = fs::exists(b, error);
    if (a_exists && b_exists)
        return fs::equivalent(a, b, error);
    if (a_exists || b_exists)
        return false;
    return place_of(a) == place_of(b);
}

} // namespace meshwright
