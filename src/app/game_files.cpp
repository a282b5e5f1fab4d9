#include "app/game_files.hpp"

#include <algorithm>

#include "base/file_names.hpp"

namespace meshwright {

namespace fs = std::filesystem;

namespace {

bool ends_with_in_any_case(const std::string& name, std::string_view ending)
{
    return name.size() >= ending.size() && lower_ascii(name.substr(name.size() - ending.size())) == ending;
}

std::string joined_parts(const fs::path& relative)
{
    std::string text;
    for (const fs::path& part : relative) {
        if (!text.empty())
            text += '/';
        text += utf8_from_path(part);
    }
    return text;
}

} // namespace

std::vector<std::string> list_files(const fs::path& folder, std::string_view extension)
{
    std::vector<std::string> files;
    std::error_code error;
    const fs::path root = folder.empty() ? fs::path(".") : folder;
    fs::recursive_directory_iterator entry(root, fs::directory_options::skip_permission_denied, error);
    for (const fs::recursive_directory_iterator end; !error && entry != end; entry.increment(error)) {
        std::error_code status_error;
        if (entry->is_directory(status_error) && !entry->is_symlink(status_error))
            continue;
        const std::string name = utf8_from_path(entry->path().filename());
        if (ends_with_in_any_case(name, extension))
            files.push_back(joined_parts(entry->path().lexically_relative(root)));
    }
    std::sort(files.begin(), files.end());
    return files;
}

BitmapTree list_bitmaps(const fs::path& folder)
{
    return {list_files(folder, ".bmp")};
}

fs::path path_below(const fs::path& folder, const std::string& relative)
{
    fs::path path = folder;
    for (size_t begin = 0; begin <= relative.size();) {
        const size_t end = std::min(relative.find('/', begin), relative.size());
        path /= path_from_utf8(relative.substr(begin, end - begin));
        begin = end + 1;
    }
    return path;
}

std::string reference_from(const fs::path& folder, const fs::path& file)
{
    std::error_code error;
    const fs::path from = fs::weakly_canonical(fs::absolute(folder.empty() ? "." : folder, error), error);
    const fs::path to =
        fs::weakly_canonical(fs::absolute(file.parent_path().empty() ? "." : file.parent_path(), error), error) /
        file.filename();
    const fs::path relative = to.lexically_relative(from);
    std::string text = utf8_from_path(relative.empty() ? to : relative);
#if defined(_WIN32)
    std::replace(text.begin(), text.end(), '\\', '/');
#endif
    return text;
}

} // namespace meshwright
