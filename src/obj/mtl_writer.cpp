#include "obj/mtl_writer.hpp"

#include "obj/output_file.hpp"

std::string material_file_name(const std::string& output_path)
{
    const size_t dot = output_path.rfind('.');
    const std::string stem = dot == std::string::npos ? output_path : output_path.substr(0, dot);
    return stem + ".mtl";
}

void write_mtl(const std::string& material_path, const TextureNames& texture_names)
{
    OutputFile file(material_path, "Unable to open material file for output", "Unable to write material file");
    for (const std::string& name : texture_names) {
        file.write("newmtl ");
        file.write(name);
        file.write("\nmap_Kd ");
        file.write(name);
        file.write(".bmp\n\n");
    }
    file.close();
}
