#include "base/file_names.hpp"

#include <string_view>

namespace meshwright {

std::filesystem::path path_from_utf8(const std::string& name)
{
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string utf8_from_path(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FILE* open_file(const std::string& name, const char* mode)
{
#if defined(_WIN32)
    const std::wstring wide_mode(mode, mode + std::string_view(mode).size());
    return _wfopen(path_from_utf8(name).c_str(), wide_mode.c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

} // namespace meshwright
