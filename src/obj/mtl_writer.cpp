#include "obj/mtl_writer.hpp"

namespace meshwright {

void write_mtl(OutputFile& file, const TextureNames& texture_names, const BitmapReference& bitmap_of)
{
    for (const std::string& name : texture_names) {
        file.write("newmtl ");
        file.write(name);
        file.write("\nmap_Kd ");
        if (bitmap_of) {
            file.write(bitmap_of(name));
        } else {
            file.write(name);
            file.write(".bmp");
        }
        file.write("\n\n");
    }
}

} // namespace meshwright
