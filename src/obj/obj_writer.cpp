#include "obj/obj_writer.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "base/messages.hpp"
#include "obj/mtl_writer.hpp"
#include "obj/number_format.hpp"
#include "obj/output_file.hpp"
#include "obj/replaced_file.hpp"
#include "obj/triangle_normal.hpp"

namespace meshwright {

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
                throw messages::vertex_index_out_of_range;
        }
    }
}

// Writes `prefix` and the floats separated by blanks as one line.
template <size_t N> void write_floats(OutputFile& file, std::string_view prefix, const float (&values)[N])
{
    char* out = append(file.room(prefix.size() + N * float_room + 1), prefix);
    for (size_t i = 0; i < N; ++i) {
        out = format_float(out, values[i]);
        *out++ = i + 1 < N ? ' ' : '\n';
    }
    file.commit(out);
}

void write_positions(OutputFile& file, const BspData& level)
{
    // The axes go out in the order z, y, x.
    for (const Vec3& v : level.vertices)
        write_floats(file, "v ", {v.z, v.y, v.x});
    file.write("\n");
}

void write_tex_coords(OutputFile& file, const BspData& level)
{
    // OBJ counts v from the bottom of the image, the level from the top.
    for (const Vec2& t : level.tex_coords)
        write_floats(file, "vt ", {t.u, -t.v});
    file.write("\n");
}

void write_normals(OutputFile& file, const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        const auto& corners = surface.triangle_indices;
        for (size_t t = 0; t < triangle_count(surface); ++t) {
            const Vec3 n = triangle_normal(level.vertices[corners[3 * t]], level.vertices[corners[3 * t + 1]],
                                           level.vertices[corners[3 * t + 2]]);
            write_floats(file, "vn ", {n.z, n.y, n.x});
        }
    }
    file.write("\n");
}

// The texts of the face lines' vertex numbers. Faces repeat the same (at most
// 65536) numbers millions of times, so each text is made once.
class VertexNumberTexts {
  public:
    explicit VertexNumberTexts(size_t vertex_count) : texts_(std::min<size_t>(vertex_count, 65536))
    {
        for (size_t i = 0; i < texts_.size(); ++i) {
            char text[uint_room];
            const char* end = format_uint(text, static_cast<uint32_t>(i + 1));
            std::memcpy(texts_[i].digits, text, sizeof texts_[i].digits);
            texts_[i].length = static_cast<uint8_t>(end - text);
        }
    }

    // Writes the text of vertex index `index` plus one; stores 8 bytes.
    char* write(char* out, uint16_t index) const
    {
        // The level's vertex indices were checked before any face is written.
        assert(index < texts_.size());
        const Text& text = texts_[index];
        std::memcpy(out, text.digits, sizeof text.digits);
        return out + text.length;
    }

  private:
    // Vertex numbers run up to 65536, five digits.
    struct Text {
        char digits[8];
        uint8_t length;
    };
    std::vector<Text> texts_;
};

// One face, its corners reversed so that the winding matches the written
// axis order. A corner's texture coordinate shares its vertex number; a face
// with a corner beyond the texture coordinates names none, since a reference
// to a missing "vt" line makes readers reject the whole file.
void write_face(OutputFile& file, const VertexNumberTexts& vertex_numbers, const uint16_t* corners,
                size_t tex_coord_count, uint32_t normal_number)
{
    const bool textured = std::max({corners[0], corners[1], corners[2]}) < tex_coord_count;
    char normal_text[uint_room];
    const size_t normal_length = static_cast<size_t>(format_uint(normal_text, normal_number) - normal_text);
    char* out = append(file.room(2 + 9 * uint_room), "f");
    for (int k = 2; k >= 0; --k) {
        *out++ = ' ';
        out = vertex_numbers.write(out, corners[k]);
        *out++ = '/';
        if (textured)
            out = vertex_numbers.write(out, corners[k]);
        *out++ = '/';
        // A fixed-size copy is cheaper than one of the exact length; the
        // bytes past the number are overwritten or lie beyond the line.
        std::memcpy(out, normal_text, sizeof normal_text);
        out += normal_length;
    }
    *out++ = '\n';
    file.commit(out);
}

TextureNames write_groups(OutputFile& file, const BspData& level)
{
    const VertexNumberTexts vertex_numbers(level.vertices.size());
    TextureNames texture_names;
    uint32_t normal_number = 1;
    for (size_t j = 0; j < level.surfaces.size(); ++j) {
        const BspSurface& surface = level.surfaces[j];
        const Name32 safe_name = surface.texture_name.line_safe();
        const std::string_view name = safe_name.text();
        constexpr std::string_view group = "\ng surface", usemtl = "\nusemtl ";
        char* out = append(file.room(group.size() + uint_room + usemtl.size()), group);
        out = format_uint(out, static_cast<uint32_t>(j));
        file.commit(append(out, usemtl));
        file.write(name);
        file.write("\n");
        texture_names.emplace(name);
        for (size_t t = 0; t < triangle_count(surface); ++t, ++normal_number)
            write_face(file, vertex_numbers, surface.triangle_indices.data() + 3 * t, level.tex_coords.size(),
                       normal_number);
    }
    return texture_names;
}

} // namespace

void write_obj(BspData level, const std::string& output_path)
{
    const std::string material_path = material_file_name(output_path);
    if (same_file(material_path, output_path))
        throw messages::material_replaces_output;
    check_vertex_indices(level);

    OutputFile file(output_path, messages::unopenable_obj, messages::unwritable_obj);
    file.write("# This is a converted version of a Dravic .BSP file!\n\nmtllib ");
    // Readers look for the material file in the OBJ's own folder.
    file.write(final_component(material_path));
    file.write("\n\n");
    write_positions(file, level);
    write_tex_coords(file, level);
    write_normals(file, level);
    const TextureNames texture_names = write_groups(file, level);
    // Runs writing the same output put their files in place one pair at a
    // time, so an OBJ never ends up beside another run's material file.
    const FolderLock lock(output_path);
    file.close();
    write_mtl(material_path, texture_names);
}

} // namespace meshwright
