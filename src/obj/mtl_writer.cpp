#include "obj/mtl_writer.hpp"

#include "base/messages.hpp"
#include "obj/output_file.hpp"

namespace meshwright {

namespace {

// What separates folders in a path on this system.
#ifdef _WIN32
constexpr const char* folder_separators = "/\\";
#else
constexpr const char* folder_separators = "/";
#endif

size_t final_component_start(const std::string& path)
{
    const size_t separator = path.find_last_of(folder_separators);
    return separator == std::string::npos ? 0 : separator + 1;
}

} // namespace

std::string material_file_name(const std::string& output_path)
{
    // Only a dot in the file's own name starts its extension; one in a
    // folder name would send the material file to another folder.
    const size_t dot = output_path.rfind('.');
    const bool has_extension = dot != std::string::npos && dot >= final_component_start(output_path);
    return output_path.substr(0, has_extension ? dot : output_path.size()) + ".mtl";
}

std::string final_component(const std::string& path)
{
    return path.substr(final_component_start(path));
}

void write_mtl(const std::string& material_path, const TextureNames& texture_names)
{
    OutputFile file(material_path, messages::unopenable_material, messages::unwritable_material);
    for (const std::string& name : texture_names) {
        file.write("newmtl ");
        file.write(name);
        file.write("\nmap_Kd ");
        file.write(name);
        file.write(".bmp\n\n");
    }
    file.close();
}

} // namespace meshwright
