#include "bitmap/bitmap.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

// Palette bitmaps are decoded here; stb_image decodes the others (16, 24
// and 32 bits, with or without masks), after this file has checked, from the
// headers, that what it will read is there and bounded, and has put the
// pixels right after the headers, where every version of stb reads them.
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
    bool top_down = false;
    unsigned bits = 0;
    bool alpha_mask = false;
    uint64_t headers_end = 0; // where the palette, or the pixels, may start
    uint64_t palette_entries = 0;
    unsigned palette_entry_bytes = 4;
    uint64_t pixel_offset = 0;
    uint64_t row_bytes = 0;
    uint64_t bytes_needed() const { return pixel_offset + row_bytes * height; }
};

// The palette lies between the headers and the pixels, as many entries as
// the header says (all that the bits can name, where it says 0) and the room
// holds.
bool place_palette(BmpLayout& layout, uint64_t colours_used)
{
    if (layout.pixel_offset < layout.headers_end)
        return false;
    if (layout.bits > 8)
        return true;
    const uint64_t nameable = uint64_t{1} << layout.bits;
    const uint64_t room = (layout.pixel_offset - layout.headers_end) / layout.palette_entry_bytes;
    layout.palette_entries = std::min(colours_used == 0 || colours_used > nameable ? nameable : colours_used, room);
    return layout.palette_entries > 0;
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
    uint32_t colours_used = 0;
    int64_t height = 0;
    if (header_size == 12) {
        layout.palette_entry_bytes = 3;
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
        colours_used = le32(head, 46);
    }
    layout.top_down = height < 0;
    layout.height = static_cast<uint64_t>(height < 0 ? -height : height);
    const unsigned bits = layout.bits;
    const bool known_bits = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    const bool known_compression = compression == bi_rgb || (compression == bi_bitfields && (bits == 16 || bits == 32));
    if (!known_bits || !known_compression || layout.width == 0 || layout.height == 0 ||
        layout.width * layout.height > max_bitmap_pixels)
        return std::nullopt;
    // Masks follow a 40-byte header; the longer ones hold them, alpha's too.
    const bool masks_after_header = compression == bi_bitfields && header_size == 40;
    layout.headers_end = file_header_bytes + header_size + (masks_after_header ? 12 : 0);
    layout.alpha_mask = compression == bi_bitfields && header_size >= 108 && le32(head, 66) != 0;
    layout.row_bytes = (layout.width * bits + 31) / 32 * 4;
    if (!place_palette(layout, colours_used))
        return std::nullopt;
    return layout;
}

// A palette bitmap's pixels; nothing when one names a colour the palette
// lacks.
std::optional<Bitmap> decode_palette(std::span<const uint8_t> file, const BmpLayout& layout)
{
    Bitmap bitmap;
    bitmap.width = static_cast<uint32_t>(layout.width);
    bitmap.height = static_cast<uint32_t>(layout.height);
    bitmap.pixels.resize(static_cast<size_t>(layout.width * layout.height * 3));
    const unsigned per_byte = 8 / layout.bits;
    const unsigned mask = (1u << layout.bits) - 1;
    uint8_t* out = bitmap.pixels.data();
    for (uint64_t y = 0; y < layout.height; ++y) {
        const uint64_t row = layout.top_down ? y : layout.height - 1 - y;
        const uint8_t* bytes = file.data() + layout.pixel_offset + row * layout.row_bytes;
        for (uint64_t x = 0; x < layout.width; ++x) {
            const unsigned shift = 8 - layout.bits * (1 + static_cast<unsigned>(x % per_byte));
            const unsigned index = (bytes[x / per_byte] >> shift) & mask;
            if (index >= layout.palette_entries)
                return std::nullopt;
            // Entries are blue, green, red (and a byte that is not alpha).
            const uint8_t* entry = file.data() + layout.headers_end + uint64_t{index} * layout.palette_entry_bytes;
            *out++ = entry[2];
            *out++ = entry[1];
            *out++ = entry[0];
        }
    }
    return bitmap;
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

uint64_t bmp_pixels(std::span<const uint8_t> head)
{
    const std::optional<BmpLayout> layout = layout_of(head);
    return layout ? uint64_t{layout->width} * layout->height : 0;
}

std::optional<Bitmap> decode_bmp(std::span<const uint8_t> file)
{
    const std::optional<BmpLayout> layout = layout_of(file.first(std::min(file.size(), bmp_head_bytes)));
    if (!layout || file.size() < layout->bytes_needed())
        return std::nullopt;
    if (layout->bits <= 8)
        return decode_palette(file, *layout);
    // Pixels that start after a gap are moved up to the headers, with the
    // header's offset to match.
    std::vector<uint8_t> closed;
    if (layout->pixel_offset > layout->headers_end) {
        closed.assign(file.begin(), file.begin() + static_cast<ptrdiff_t>(layout->headers_end));
        closed.insert(closed.end(), file.begin() + static_cast<ptrdiff_t>(layout->pixel_offset),
                      file.begin() + static_cast<ptrdiff_t>(layout->bytes_needed()));
        for (unsigned i = 0; i < 4; ++i)
            closed[10 + i] = static_cast<uint8_t>(layout->headers_end >> (8 * i));
        file = closed;
    }
    const auto length = static_cast<int>(layout->headers_end + layout->row_bytes * layout->height);
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
