#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "bsp/triangle_normal.hpp"
#include "obj/obj_chunks.hpp"
#include "obj/obj_lines.hpp"

namespace meshwright {
namespace {

constexpr float largest = std::numeric_limits<float>::max();

std::string printed(const char* format, double a, double b = 0, double c = 0)
{
    char text[512];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

// Writes one line into a heap block of exactly the room its kind may use,
// so that the address sanitizer sees any store past it.
template <class Write> std::string in_exact_room(size_t line_max, Write write)
{
    const std::unique_ptr<char[]> room(new char[line_room(line_max)]);
    const char* begin = room.get();
    const char* end = write(room.get());
    EXPECT_LE(static_cast<size_t>(end - begin), line_max);
    return std::string(begin, end);
}

// The longest line of a kind, which must be exactly as long as its named
// maximum: a bound that is reached, not only respected.
std::string longest(const std::string& text, size_t line_max)
{
    EXPECT_EQ(text.size(), line_max) << text;
    return text;
}

TEST(ObjLines, LongestLinesFitTheirRoom)
{
    const Vec3 far{-largest, -largest, -largest};
    EXPECT_EQ(in_exact_room(position_line_max, [&](char* out) { return ObjLines::position(out, far); }),
              longest(printed("v %f %f %f\n", -largest, -largest, -largest), position_line_max));
    EXPECT_EQ(in_exact_room(tex_coord_line_max,
                            [&](char* out) {
                                return ObjLines::tex_coord(out, {-largest, largest});
                            }),
              longest(printed("vt %f %f\n", -largest, -largest), tex_coord_line_max));
    // A normal is a unit vector or NaN, far shorter than its bound (three of
    // the longest floats); a degenerate triangle gives the NaN one.
    EXPECT_EQ(
        in_exact_room(normal_line_max, [&](char* out) { return ObjLines::normal(out, triangle_normal(far, far, far)); }).substr(0, 3),
        "vn ");

    BspData level;
    level.vertices.resize(65536);
    level.tex_coords.resize(65536);
    const ObjLines lines(level);
    const uint16_t corners[3] = {65535, 65534, 65533};
    const NormalNumberText normal(std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(in_exact_room(face_line_max, [&](char* out) { return lines.face(out, corners, normal); }),
              longest("f 65534/65534/4294967295 65535/65535/4294967295 65536/65536/4294967295\n", face_line_max));
    const std::string name(32, 'n');
    EXPECT_EQ(in_exact_room(group_lines_max, [&](char* out) { return ObjLines::group(out, 4294967295u, name); }),
              longest("\ng surface4294967295\nusemtl " + name + "\n", group_lines_max));
}

TEST(ObjLines, NormalNumberCountsUpAsPrintfWritesIt)
{
    // Across every carry into a new digit, and around the 32-bit wrap.
    for (uint32_t start : {1u, 8u, 98u, 999999u, 999999999u, 4294967290u}) {
        NormalNumberText text(start);
        uint32_t value = start;
        for (int step = 0; step < 12; ++step, ++value, text.increment()) {
            char expected[16];
            std::snprintf(expected, sizeof expected, "%u", value);
            ASSERT_EQ(std::string(text.data(), text.size()), expected) << "counting from " << start;
        }
    }
}

TEST(ObjLines, BuffersOfTheLongestLinesFillWithoutOverflow)
{
    // More than one buffer of every kind of line at their longest, each
    // buffer an exact heap block: chunks must fit whatever their lines hold.
    constexpr size_t buffer_bytes = 64 << 10;
    BspData level;
    level.vertices.assign(70000, {-largest, -largest, -largest});
    level.tex_coords.assign(70000, {-largest, largest});
    for (uint32_t s = 0; s < 2; ++s) {
        BspSurface surface;
        surface.texture_name.bytes.fill('n');
        surface.first_index = level.triangle_indices.size();
        surface.triangle_count = 3000;
        for (int i = 0; i < 3 * 3000; ++i)
            level.triangle_indices.push_back(static_cast<uint16_t>(65535 - i % 7));
        level.surfaces.push_back(surface);
    }
    const ObjChunks chunks(level, buffer_bytes);
    std::string text;
    for (size_t i = 0; i < chunks.count(); ++i) {
        const std::unique_ptr<char[]> buffer(new char[buffer_bytes]);
        const size_t size = chunks.format(i, buffer.get());
        ASSERT_LE(size, buffer_bytes);
        text.append(buffer.get(), size);
    }
    EXPECT_GT(text.size(), 10 * buffer_bytes);
    const std::string v_line = printed("v %f %f %f\n", -largest, -largest, -largest);
    const std::string vt_line = printed("vt %f %f\n", -largest, -largest);
    EXPECT_EQ(text.substr(0, v_line.size()), v_line);
    EXPECT_EQ(text.substr(70000 * v_line.size(), 1 + vt_line.size()), "\n" + vt_line);
    const std::string last_face = "\nf 65532/65532/6000 65533/65533/6000 65534/65534/6000\n";
    EXPECT_EQ(text.substr(text.size() - last_face.size()), last_face);
}

} // namespace
} // namespace meshwright
