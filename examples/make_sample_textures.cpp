// Makes the sample level's textures: one 64 x 64 bitmap for each of its
// texture names, each a pattern of its own with a large letter that reads
// wrongly when the picture is mirrored or upside down, and an arrow to its
// top, so that a flipped or misplaced texture is seen at once. Half are
// 8-bit palette bitmaps, half 24-bit ones, as levels have both.
//   make_sample_textures FOLDER
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "level_builder.hpp"

namespace {

using meshwright::put_u16;
using meshwright::put_u32;

constexpr int size = 64;

struct Colour {
    uint8_t r, g, b;
};

// 5 x 7 glyphs, top row first, the leftmost column the highest bit.
using Glyph = std::array<uint8_t, 7>;

struct Texture {
    const char* name;
    char letter;
    Glyph glyph;
    Colour base;
    Colour ink;
    int pattern; // 0 bricks, 1 planks, 2 tiles, 3 plates
    bool palette;
};

const Texture textures[] = {
    {"ceiling_metal", 'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}, {120, 126, 134}, {250, 220, 40}, 3, false},
    {"ceiling_plaster", 'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {214, 208, 190}, {160, 40, 40}, 2, true},
    {"ceiling_wood", 'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}, {150, 104, 60}, {250, 240, 200}, 1, false},
    {"crate_side", 'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}, {176, 130, 70}, {60, 30, 10}, 1, true},
    {"crate_top", 'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}, {190, 146, 84}, {60, 30, 10}, 2, false},
    {"door_oak", 'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}, {110, 70, 36}, {240, 200, 120}, 1, true},
    {"floor_metal", '2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {96, 104, 112}, {40, 220, 255}, 3, false},
    {"floor_stone", '4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {128, 124, 116}, {255, 255, 255}, 0, true},
    {"floor_tiles", '7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, {200, 200, 196}, {30, 60, 160}, 2, false},
    {"wall_brick", 'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {150, 64, 48}, {255, 236, 180}, 0, true},
    {"wall_metal", 'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}, {104, 116, 124}, {255, 120, 0}, 3, false},
    {"wall_panel", 'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}, {160, 150, 120}, {20, 90, 40}, 2, true},
};

Colour shade(Colour c, int percent)
{
    const auto scale = [&](uint8_t v) { return static_cast<uint8_t>(v * percent / 100 > 255 ? 255 : v * percent / 100); };
    return {scale(c.r), scale(c.g), scale(c.b)};
}

// The pattern's shade at (x, y), y counted from the top.
int pattern_shade(int pattern, int x, int y)
{
    switch (pattern) {
    case 0: { // bricks, every other row shifted by half a brick
        const int row = y / 8;
        const int shifted = x + (row % 2) * 8;
        return (y % 8 == 7 || shifted % 16 == 15) ? 60 : 100;
    }
    case 1: // planks with a grain
        return x % 16 == 15 ? 60 : 92 + (y * 7 + x * 3) % 9;
    case 2: // tiles
        return (x % 16 == 15 || y % 16 == 15) ? 70 : 100;
    default: // plates with rivets
        return (x % 32 == 31 || y % 32 == 31) ? 65 : ((x % 32 == 3 || x % 32 == 28) && (y % 32 == 3 || y % 32 == 28)) ? 130 : 100;
    }
}

bool in_letter(const Glyph& glyph, int x, int y)
{
    // The glyph, six pixels a dot, in the middle of the picture.
    constexpr int dot = 6;
    const int left = (size - 5 * dot) / 2;
    const int top = (size - 7 * dot) / 2 + 2;
    if (x < left || x >= left + 5 * dot || y < top || y >= top + 7 * dot)
        return false;
    return (glyph[(y - top) / dot] >> (4 - (x - left) / dot)) & 1;
}

bool in_arrow(int x, int y)
{
    // A small arrow in the top left corner, pointing up.
    const int cx = 7;
    if (y >= 2 && y < 6)
        return x >= cx - (y - 2) && x <= cx + (y - 2);
    return y >= 6 && y < 12 && x >= cx - 1 && x <= cx + 1;
}

// The picture, rows from the top.
std::vector<Colour> picture(const Texture& texture)
{
    std::vector<Colour> pixels;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (in_letter(texture.glyph, x, y) || in_arrow(x, y))
                pixels.push_back(texture.ink);
            else
                pixels.push_back(shade(texture.base, pattern_shade(texture.pattern, x, y)));
        }
    }
    return pixels;
}

// A bottom-up bitmap with the 40-byte header: 24 bits a pixel, or 8 with a
// palette of the picture's colours.
std::vector<uint8_t> bitmap_file(const std::vector<Colour>& pixels, bool palette)
{
    std::vector<Colour> colours;
    std::vector<uint8_t> indices;
    if (palette) {
        for (const Colour& c : pixels) {
            size_t i = 0;
            while (i < colours.size() && (colours[i].r != c.r || colours[i].g != c.g || colours[i].b != c.b))
                ++i;
            if (i == colours.size())
                colours.push_back(c);
            indices.push_back(static_cast<uint8_t>(i));
        }
        if (colours.size() > 256)
            throw std::runtime_error("more than 256 colours for a palette bitmap");
    }
    const uint32_t bits = palette ? 8 : 24;
    const uint32_t row_bytes = (size * bits / 8 + 3) / 4 * 4;
    const auto palette_bytes = static_cast<uint32_t>(4 * colours.size());
    const uint32_t offset = 14 + 40 + palette_bytes;
    std::vector<uint8_t> out = {'B', 'M'};
    put_u32(out, offset + row_bytes * size);
    put_u32(out, 0);
    put_u32(out, offset);
    put_u32(out, 40);
    put_u32(out, size);
    put_u32(out, size);
    put_u16(out, 1);
    put_u16(out, static_cast<uint16_t>(bits));
    put_u32(out, 0);                  // no compression
    put_u32(out, row_bytes * size);   // image size
    put_u32(out, 2835);               // 72 dots per inch, both ways
    put_u32(out, 2835);
    put_u32(out, static_cast<uint32_t>(colours.size()));
    put_u32(out, 0);
    for (const Colour& c : colours) {
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    for (int y = size - 1; y >= 0; --y) {
        const size_t row_start = out.size();
        for (int x = 0; x < size; ++x) {
            const size_t at = static_cast<size_t>(y * size + x);
            if (palette)
                out.push_back(indices[at]);
            else
                out.insert(out.end(), {pixels[at].b, pixels[at].g, pixels[at].r});
        }
        out.resize(row_start + row_bytes, 0);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argc > 0 ? argv[0] : "make_sample_textures");
        return 2;
    }
    for (const Texture& texture : textures) {
        const std::vector<uint8_t> bytes = bitmap_file(picture(texture), texture.palette);
        const std::string path = std::string(argv[1]) + "/" + texture.name + ".bmp";
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
