#include "base/file_names.hpp"

#include <string_view>

namespace meshwright {

namespace fs = std::filesystem;

namespace {

using NativeText = fs::path::string_type;

// What separates folders in a path on this system.
#if defined(_WIN32)
constexpr const fs::path::value_type* folder_separators = L"/\\";
#else
constexpr const fs::path::value_type* folder_separators = "/";
#endif

size_t final_component_start(const NativeText& path)
{
    const size_t separator = path.find_last_of(folder_separators);
    return separator == NativeText::npos ? 0 : separator + 1;
}

} // namespace

fs::path path_from_utf8(const std::string& name)
{
    return fs::path(std::u8string(name.begin(), name.end()));
}

std::string utf8_from_path(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FILE* open_file(const fs::path& path, const char* mode)
{
#if defined(_WIN32)
    const std::wstring wide_mode(mode, mode + std::string_view(mode).size());
    return _wfopen(path.c_str(), wide_mode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

fs::path material_file_name(const fs::path& output_path)
{
    // Only a dot in the file's own name starts its extension; one in a
    // folder name would send the material file to another folder.
    const NativeText& path = output_path.native();
    const size_t dot = path.rfind('.');
    const bool has_extension = dot != NativeText::npos && dot >= final_component_start(path);
    NativeText material = path.substr(0, has_extension ? dot : path.size());
    for (char c : std::string_view(".mtl"))
        material += static_cast<fs::path::value_type>(c);
    return material;
}

namespace {

// Whether the file name ends in `extension`, in any case of ASCII letters.
bool ends_in(const fs::path& path, std::string_view extension)
{
    const NativeText name = final_component(path).native();
    if (name.size() < extension.size())
        return false;
    for (size_t i = 0; i < extension.size(); ++i) {
        auto c = name[name.size() - extension.size() + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<fs::path::value_type>(c - 'A' + 'a');
        if (c != static_cast<fs::path::value_type>(extension[i]))
            return false;
    }
    return true;
}

} // namespace

bool names_binary_gltf(const fs::path& output_path)
{
    return ends_in(output_path, ".glb");
}

bool names_json_gltf(const fs::path& output_path)
{
    return ends_in(output_path, ".gltf");
}

fs::path final_component(const fs::path& path)
{
    return path.native().substr(final_component_start(path.native()));
}

} // namespace meshwright
