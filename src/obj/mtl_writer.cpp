#include "obj/mtl_writer.hpp"

#include <cstdio>

std::string material_file_name(const std::string& output_path)
{
    size_t dot = output_path.rfind('.');
    std::string stem = dot == std::string::npos ? output_path : output_path.substr(0, dot);
    return stem + ".mtl";
}

void write_mtl(const std::string& material_path, const TextureNames& texture_names)
{
    FILE* file = std::fopen(material_path.c_str(), "w");
    if (!file)
        throw "Unable to open material file for output";
    for (const std::string& name : texture_names)
        std::fprintf(file, "newmtl %s\nmap_Kd %s.bmp\n\n", name.c_str(), name.c_str());
    bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed)
        throw "Unable to write material file";
}
