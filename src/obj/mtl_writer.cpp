#include "obj/mtl_writer.hpp"

namespace meshwright {

void write_mtl(OutputFile& file, const TextureNames& texture_names)
{
    for (const std::string& name : texture_names) {
        file.write("newmtl ");
        file.write(name);
        file.write("\nmap_Kd ");
        file.write(name);
        file.write(".bmp\n\n");
    }
}

} // namespace meshwright
