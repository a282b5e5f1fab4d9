#include "io/links.hpp"

#include <algorithm>
#include <cwctype>

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

} // namespace

std::optional<fs::path> follow_links(const fs::path& path)
{
    fs::path current = path;
    for (int hop = 0; hop < max_link_hops && is_link(current); ++hop) {
        const file_system::Folder folder(current.parent_path());
        std::error_code error;
        const fs::path link = fs::read_symlink(current, error);
        if (error || !folder.opened() || !file_system::may_follow_link(folder, current.filename()))
            return std::nullopt;
        current = current.parent_path() / link;
    }
    return current;
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
