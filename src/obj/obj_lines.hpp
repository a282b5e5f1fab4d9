#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/portability.hpp"
#include "bsp/bsp_data.hpp"
#include "obj/number_format.hpp"

namespace meshwright {

// The longest vertex number of a face: 65536, the highest 16-bit index plus one.
inline constexpr size_t vertex_number_text_max = 5;

// The longest text of each kind of line, each checked against its parts'
// longest texts: "v x y z\n", "vt u v\n", "vn x y z\n", "f a/a/n b/b/n c/c/n\n"
// and "\ng surfaceN\nusemtl NAME\n".
inline constexpr size_t position_line_max = 146;
inline constexpr size_t tex_coord_line_max = 99;
inline constexpr size_t normal_line_max = 147;
inline constexpr size_t face_line_max = 71;
inline constexpr size_t group_lines_max = 61;
static_assert(position_line_max >= 2 + 3 * float_text_max + 2 + 1);
static_assert(tex_coord_line_max >= 3 + 2 * float_text_max + 1 + 1);
static_assert(normal_line_max >= 3 + 3 * float_text_max + 2 + 1);
static_assert(face_line_max >=
              1 + 3 * (1 + vertex_number_text_max + 1 + vertex_number_text_max + 1 + uint_text_max) + 1);
static_assert(group_lines_max >= 10 + uint_text_max + 8 + sizeof(Name32) + 1);

// Bytes a line's writer may touch from the line's start: its longest text,
// and past its end the widest whole-word store of any number formatter.
inline constexpr size_t store_overshoot_max = std::max(float_room, uint_room);
inline constexpr size_t line_room(size_t line_max)
{
    return line_max + store_overshoot_max;
}

// The decimal text of the running normal number of the face lines, counted up
// in place: cheaper than formatting every number anew. Like the number, it
// wraps to 0 after the largest 32-bit value.
class NormalNumberText {
  public:
    explicit NormalNumberText(uint32_t value) { set(value); }

    void increment()
    {
        if (++value_ == 0) {
            set(0);
            return;
        }
        size_t i = length_;
        while (i > 0 && digits_[i - 1] == '9')
            digits_[--i] = '0';
        if (i > 0) {
            ++digits_[i - 1];
            return;
        }
        // All nines: one more digit, a 1 followed by zeros.
        digits_[0] = '1';
        digits_[length_++] = '0';
    }

    // The text's first byte; uint_room bytes may be copied from it.
    const char* data() const { return digits_; }
    size_t size() const { return length_; }

  private:
    void set(uint32_t value)
    {
        value_ = value;
        length_ = static_cast<size_t>(format_uint(digits_, value) - digits_);
    }

    uint32_t value_ = 0;
    size_t length_ = 0;
    char digits_[uint_room];
};

// Writes the lines of the OBJ file, each at `out`, returning the end of its
// text. `out` needs line_room() of the kind's longest line.
class ObjLines {
  public:
    explicit ObjLines(const BspData& level);

    // "v" with the axes in the order z, y, x.
    static char* position(char* out, const Vec3& v);
    // "vt" with v counted from the bottom of the image, as OBJ counts it.
    static char* tex_coord(char* out, const Vec2& t);
    // "vn" of a triangle's normal, in the order z, y, x.
    static char* normal(char* out, const Vec3& n);
    // The empty line, "g" and "usemtl" that start a surface's group.
    static char* group(char* out, uint32_t surface_number, std::string_view material);
    // "f" of one triangle, its corners reversed so that its winding matches
    // the written axis order. Its corners are valid vertex indices.
    char* face(char* out, const uint16_t* corners, const NormalNumberText& normal_number) const;

    // Asks for the memory that face() will read for these corners.
    void prefetch_face(const uint16_t* corners) const
    {
        for (int k = 0; k < 3; ++k)
            MESHWRIGHT_PREFETCH(&number_texts_[std::min<size_t>(corners[k], number_texts_.size() - 1)]);
    }

  private:
    // The text "a/" of each vertex number, lowest byte first, with its length
    // in the top byte: made once, since faces repeat the same (at most 65536)
    // numbers millions of times, and small, since the cache also holds the
    // vertices and the file's pages that the system is filling meanwhile.
    std::vector<uint64_t> number_texts_;
    static_assert(vertex_number_text_max + 1 <= sizeof(uint64_t) - 1);
    size_t tex_coord_count_;
};

} // namespace meshwright
