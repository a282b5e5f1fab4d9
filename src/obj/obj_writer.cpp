#include "obj/obj_writer.hpp"

#include <cstdio>

#include "obj/mtl_writer.hpp"
#include "obj/triangle_normal.hpp"

namespace {

size_t triangle_count(const BspSurface& surface)
{
    return surface.triangle_indices.size() / 3;
}

// Every corner must name a stored vertex; checked before any file is touched
// so that a bad level leaves nothing behind.
void check_vertex_indices(const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        const size_t used = 3 * triangle_count(surface);
        for (size_t i = 0; i < used; ++i) {
            if (surface.triangle_indices[i] >= level.vertices.size())
                throw "Invalid .bsp file! Triangle vertex index out of range!";
        }
    }
}

void write_normals(FILE* file, const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        const auto& corners = surface.triangle_indices;
        for (size_t t = 0; t < triangle_count(surface); ++t) {
            const Vec3 n = triangle_normal(level.vertices[corners[3 * t]], level.vertices[corners[3 * t + 1]],
                                           level.vertices[corners[3 * t + 2]]);
            std::fprintf(file, "vn %f %f %f\n", n.z, n.y, n.x);
        }
    }
}

TextureNames write_groups(FILE* file, const BspData& level)
{
    TextureNames texture_names;
    unsigned normal_number = 1;
    for (size_t j = 0; j < level.surfaces.size(); ++j) {
        const BspSurface& surface = level.surfaces[j];
        const std::string name(surface.texture_name.text());
        std::fprintf(file, "\ng surface%u\n", static_cast<unsigned>(j));
        std::fprintf(file, "usemtl %s\n", name.c_str());
        texture_names.insert(name);
        const auto& corners = surface.triangle_indices;
        for (size_t t = 0; t < triangle_count(surface); ++t, ++normal_number) {
            const unsigned c0 = corners[3 * t] + 1u;
            const unsigned c1 = corners[3 * t + 1] + 1u;
            const unsigned c2 = corners[3 * t + 2] + 1u;
            std::fprintf(file, "f %u/%u/%u %u/%u/%u %u/%u/%u\n", c2, c2, normal_number, c1, c1, normal_number, c0,
                         c0, normal_number);
        }
    }
    return texture_names;
}

} // namespace

void write_obj(BspData level, const std::string& output_path)
{
    const std::string material_path = material_file_name(output_path);
    if (material_path == output_path)
        throw "Output file would be overwritten by its material file";
    check_vertex_indices(level);

    FILE* file = std::fopen(output_path.c_str(), "w");
    if (!file)
        throw "Unable to open OBJ file for output";
    std::fprintf(file, "# This is a converted version of a Dravic .BSP file!\n\n");
    std::fprintf(file, "mtllib %s\n\n", material_path.c_str());
    for (const Vec3& v : level.vertices)
        std::fprintf(file, "v %f %f %f\n", v.z, v.y, v.x);
    std::fprintf(file, "\n");
    for (const Vec2& t : level.tex_coords)
        std::fprintf(file, "vt %f %f\n", t.u, -t.v);
    std::fprintf(file, "\n");
    write_normals(file, level);
    std::fprintf(file, "\n");
    const TextureNames texture_names = write_groups(file, level);
    bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed)
        throw "Unable to write OBJ file";
    write_mtl(material_path, texture_names);
}
