#include "bitmap/bitmap.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>

// stb_image decodes the pixels; this file checks first, from the headers,
// that what it will read is there, bounded and consistent, so that stb sees
// only bitmaps it reads correctly.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS (1 << 24)
#include <stb_image.h>

namespace meshwright {

namespace {

constexpr size_t file_header_bytes = 14;
constexpr uint32_t bi_rgb = 0;
constexpr uint32_t bi_bitfields = 3;

uint16_t le16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t le32(std::span<const uint8_t> bytes, size_t at)
{
    return uint32_t{le16(bytes, at)} | uint32_t{le16(bytes, at + 2)} << 16;
}

struct BmpLayout {
    uint64_t width = 0;
    uint64_t height = 0;
    unsigned bits = 0;
    bool alpha_mask = false;
    uint64_t palette_entries = 0; // as the decoder counts them
    uint64_t pixel_offset = 0;
    uint64_t row_bytes = 0;
    uint64_t bytes_needed() const { return pixel_offset + row_bytes * height; }
};

// The decoder reads the palette that lies between the headers and the
// pixels, and the pixels right after the headers where there is none.
bool place_palette(BmpLayout& layout, uint64_t header_size, uint64_t headers_end)
{
    if (layout.bits > 8)
        return layout.pixel_offset == headers_end;
    if (layout.pixel_offset < headers_end)
        return false;
    // The 12-byte header's three-byte entries are counted from 10 bytes
    // further on, as the decoder does.
    constexpr uint64_t short_palette_start = file_header_bytes + 24;
    if (header_size == 12)
        layout.palette_entries = layout.pixel_offset > short_palette_start
                                     ? (layout.pixel_offset - short_palette_start) / 3
                                     : 0;
    else
        layout.palette_entries = (layout.pixel_offset - headers_end) / 4;
    return layout.palette_entries > 0 && layout.palette_entries <= 256;
}

std::optional<BmpLayout> layout_of(std::span<const uint8_t> head)
{
    if (head.size() < file_header_bytes + 4 || head[0] != 'B' || head[1] != 'M')
        return std::nullopt;
    BmpLayout layout;
    layout.pixel_offset = le32(head, 10);
    const uint32_t header_size = le32(head, 14);
    if ((header_size != 12 && header_size != 40 && header_size != 108 && header_size != 124) ||
        head.size() < file_header_bytes + header_size)
        return std::nullopt;
    uint32_t compression = bi_rgb;
    int64_t height = 0;
    if (header_size == 12) {
        layout.width = le16(head, 18);
        height = le16(head, 20);
        if (le16(head, 22) != 1)
            return std::nullopt;
        layout.bits = le16(head, 24);
    } else {
        layout.width = static_cast<int32_t>(le32(head, 18)) > 0 ? le32(head, 18) : 0;
        height = static_cast<int32_t>(le32(head, 22));
        if (le16(head, 26) != 1)
            return std::nullopt;
        layout.bits = le16(head, 28);
        compression = le32(head, 30);
    }
    layout.height = static_cast<uint64_t>(height < 0 ? -height : height);
    const unsigned bits = layout.bits;
    const bool known_bits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const bool known_compression = compression == bi_rgb || (compression == bi_bitfields && (bits == 16 || bits == 32));
    if (!known_bits || !known_compression || layout.width == 0 || layout.height == 0 ||
        layout.width * layout.height > max_bitmap_pixels)
        return std::nullopt;
    // Masks follow a 40-byte header; the longer ones hold them, alpha's too.
    const bool masks_after_header = compression == bi_bitfields && header_size == 40;
    const uint64_t headers_end = file_header_bytes + header_size + (masks_after_header ? 12 : 0);
    layout.alpha_mask = compression == bi_bitfields && header_size >= 108 && le32(head, 66) != 0;
    layout.row_bytes = (layout.width * bits + 31) / 32 * 4;
    if (!place_palette(layout, header_size, headers_end))
        return std::nullopt;
    return layout;
}

// Whether every pixel of a palette bitmap names a colour of its palette.
bool colours_in_palette(std::span<const uint8_t> file, const BmpLayout& layout)
{
    const unsigned per_byte = 8 / layout.bits;
    const unsigned mask = (1u << layout.bits) - 1;
    for (uint64_t row = 0; row < layout.height; ++row) {
        const uint8_t* bytes = file.data() + layout.pixel_offset + row * layout.row_bytes;
        for (uint64_t x = 0; x < layout.width; ++x) {
            const unsigned shift = 8 - layout.bits * (1 + static_cast<unsigned>(x % per_byte));
            if (((bytes[x / per_byte] >> shift) & mask) >= layout.palette_entries)
                return false;
        }
    }
    return true;
}

bool any_translucent(const stbi_uc* rgba, size_t pixels)
{
    for (size_t p = 0; p < pixels; ++p) {
        if (rgba[4 * p + 3] != 255)
            return true;
    }
    return false;
}

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

} // namespace

uint64_t bmp_bytes_needed(std::span<const uint8_t> head)
{
    const std::optional<BmpLayout> layout = layout_of(head);
    return layout ? layout->bytes_needed() : 0;
}

std::optional<Bitmap> decode_bmp(std::span<const uint8_t> file)
{
    const std::optional<BmpLayout> layout = layout_of(file.first(std::min(file.size(), bmp_head_bytes)));
    if (!layout || file.size() < layout->bytes_needed() || (layout->bits <= 8 && !colours_in_palette(file, *layout)))
        return std::nullopt;
    const auto length = static_cast<int>(layout->bytes_needed());
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::unique_ptr<stbi_uc, StbFree> rgba(stbi_load_from_memory(file.data(), length, &width, &height, &channels, 4));
    if (!rgba || static_cast<uint64_t>(width) != layout->width || static_cast<uint64_t>(height) != layout->height)
        return std::nullopt;
    Bitmap bitmap;
    bitmap.width = static_cast<uint32_t>(layout->width);
    bitmap.height = static_cast<uint32_t>(layout->height);
    const size_t pixels = static_cast<size_t>(layout->width * layout->height);
    // Without an alpha mask the fourth byte is padding, whatever it holds.
    bitmap.alpha = layout->alpha_mask && any_translucent(rgba.get(), pixels);
    bitmap.pixels.resize(pixels * bitmap.channels());
    for (size_t p = 0, out = 0; p < pixels; ++p) {
        for (unsigned c = 0; c < bitmap.channels(); ++c)
            bitmap.pixels[out++] = rgba.get()[4 * p + c];
    }
    return bitmap;
}

} // namespace meshwright
