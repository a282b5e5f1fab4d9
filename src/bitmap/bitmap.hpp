#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace meshwright {

// A decoded picture: rows from the top, each pixel red, green, blue and,
// where the picture has any that is not opaque, alpha.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;
    std::vector<uint8_t> pixels;

    unsigned channels() const { return alpha ? 4 : 3; }
};

// The most pixels a bitmap may have (4096 x 4096): larger ones, or headers
// that claim more, are not decoded, so that no file makes the converter
// allocate without bound.
inline constexpr uint64_t max_bitmap_pixels = uint64_t{1} << 24;

// How many bytes a BMP file needs, from its first `bmp_head_bytes` bytes (or
// fewer, for a shorter file): the headers, the palette and every row. 0 when
// the header is no bitmap that decode_bmp() reads.
inline constexpr size_t bmp_head_bytes = 14 + 124;
uint64_t bmp_bytes_needed(std::span<const uint8_t> head);

// How many pixels a BMP file's header claims; 0 as for bmp_bytes_needed().
uint64_t bmp_pixels(std::span<const uint8_t> head);

// Decodes a Windows bitmap: the 12-byte header and the 40-, 108- and
// 124-byte ones; 1, 4 and 8-bit palettes, 16 bits (5-5-5 or bit fields),
// 24 and 32 bits (alpha only where an alpha mask says so), rows bottom-up or
// top-down. Nothing for a file that is cut short, claims too much, names a
// colour its palette lacks or uses a compression this does not read.
std::optional<Bitmap> decode_bmp(std::span<const uint8_t> file);

// The bitmap as a PNG file, the same bytes on every system.
std::vector<uint8_t> encode_png(const Bitmap& bitmap);

} // namespace meshwright
