#include "obj/obj_lines.hpp"

#include <cassert>
#include <cstring>

#include "bsp/triangle_normal.hpp"

namespace meshwright {

namespace {

char* append(char* out, std::string_view text)
{
    return static_cast<char*>(std::memcpy(out, text.data(), text.size())) + text.size();
}

// `prefix`, then the values separated by blanks, then the line end.
template <size_t N> char* float_line(char* out, std::string_view prefix, const float (&values)[N])
{
    out = append(out, prefix);
    for (size_t i = 0; i < N; ++i) {
        out = format_float(out, values[i]);
        *out++ = i + 1 < N ? ' ' : '\n';
    }
    return out;
}

} // namespace

ObjLines::ObjLines(const BspData& level)
    : vertex_numbers_(std::min<size_t>(level.vertices.size(), 65536)), tex_coord_count_(level.tex_coords.size())
{
    for (size_t i = 0; i < vertex_numbers_.size(); ++i) {
        char text[uint_room];
        const char* end = format_uint(text, static_cast<uint32_t>(i + 1));
        std::memcpy(vertex_numbers_[i].digits, text, sizeof vertex_numbers_[i].digits);
        vertex_numbers_[i].length = static_cast<uint8_t>(end - text);
    }
}

char* ObjLines::position(char* out, const Vec3& v)
{
    [[maybe_unused]] char* const start = out;
    out = float_line(out, "v ", {v.z, v.y, v.x});
    assert(static_cast<size_t>(out - start) <= position_line_max);
    return out;
}

char* ObjLines::tex_coord(char* out, const Vec2& t)
{
    [[maybe_unused]] char* const start = out;
    out = float_line(out, "vt ", {t.u, -t.v});
    assert(static_cast<size_t>(out - start) <= tex_coord_line_max);
    return out;
}

char* ObjLines::normal(char* out, const Vec3& p0, const Vec3& p1, const Vec3& p2)
{
    [[maybe_unused]] char* const start = out;
    const Vec3 n = triangle_normal(p0, p1, p2);
    out = float_line(out, "vn ", {n.z, n.y, n.x});
    assert(static_cast<size_t>(out - start) <= normal_line_max);
    return out;
}

char* ObjLines::group(char* out, uint32_t surface_number, std::string_view material)
{
    assert(material.size() <= sizeof(Name32));
    [[maybe_unused]] char* const start = out;
    out = format_uint(append(out, "\ng surface"), surface_number);
    out = append(append(append(out, "\nusemtl "), material), "\n");
    assert(static_cast<size_t>(out - start) <= group_lines_max);
    return out;
}

char* ObjLines::vertex_number(char* out, uint16_t index) const
{
    // The level's vertex indices were checked before any face is written.
    assert(index < vertex_numbers_.size());
    const VertexNumber& number = vertex_numbers_[index];
    std::memcpy(out, number.digits, sizeof number.digits);
    return out + number.length;
}

// A corner's texture coordinate shares its vertex number; a face with a
// corner beyond the texture coordinates names none, since a reference to a
// missing "vt" line makes readers reject the whole file.
char* ObjLines::face(char* out, const uint16_t* corners, const NormalNumberText& normal_number) const
{
    [[maybe_unused]] char* const start = out;
    const bool textured = std::max({corners[0], corners[1], corners[2]}) < tex_coord_count_;
    const char* const normal_text = normal_number.data();
    const size_t normal_length = normal_number.size();
    *out++ = 'f';
    for (int k = 2; k >= 0; --k) {
        *out++ = ' ';
        out = vertex_number(out, corners[k]);
        *out++ = '/';
        if (textured)
            out = vertex_number(out, corners[k]);
        *out++ = '/';
        // A fixed-size copy is cheaper than one of the exact length; the
        // bytes past the number are overwritten or lie beyond the line.
        std::memcpy(out, normal_text, uint_room);
        out += normal_length;
    }
    *out++ = '\n';
    assert(static_cast<size_t>(out - start) <= face_line_max);
    return out;
}

} // namespace meshwright
