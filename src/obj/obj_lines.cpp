#include "obj/obj_lines.hpp"

#include <cassert>
#include <cstring>

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
    : number_texts_(std::min<size_t>(level.vertices.size(), 65536)), tex_coord_count_(level.tex_coords.size())
{
    for (size_t i = 0; i < number_texts_.size(); ++i) {
        char text[uint_room];
        char* end = format_uint(text, static_cast<uint32_t>(i + 1));
        *end++ = '/';
        const auto length = static_cast<uint64_t>(end - text);
        uint64_t word = 0;
        for (uint64_t k = length; k-- > 0;)
            word = word << 8 | static_cast<unsigned char>(text[k]);
        number_texts_[i] = word | length << 56;
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

char* ObjLines::normal(char* out, const Vec3& n)
{
    [[maybe_unused]] char* const start = out;
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
        // The level's vertex indices were checked before any face is written.
        assert(corners[k] < number_texts_.size());
        const uint64_t number = number_texts_[corners[k]];
        const auto length = static_cast<size_t>(number >> 56);
        *out++ = ' ';
        // "a/", then "a/" again or "/". Whole-word copies are cheaper than
        // ones of the exact length; the bytes past the text are overwritten
        // or lie beyond the line.
        store_bytes(out, number);
        out += length;
        if (textured) {
            store_bytes(out, number);
            out += length;
        } else {
            *out++ = '/';
        }
        std::memcpy(out, normal_text, uint_room);
        out += normal_length;
    }
    *out++ = '\n';
    assert(static_cast<size_t>(out - start) <= face_line_max);
    return out;
}

} // namespace meshwright
