#include "bitmap_builder.hpp"

#include "level_builder.hpp"

#include <algorithm>
#include <stdexcept>

namespace meshwright {

namespace {

// A channel of `bits` bits widened to 8, as every reader does it.
uint8_t widened(uint32_t value, unsigned bits)
{
    return static_cast<uint8_t>(value << (8 - bits) | value >> (2 * bits - 8));
}

bool has_palette(const BmpKind& kind)
{
    return kind.bits <= 8;
}

std::vector<Rgba> palette_of(const BmpKind& kind)
{
    std::vector<Rgba> colours;
    const uint32_t count = 1u << kind.bits;
    for (uint32_t i = 0; i < count; ++i)
        colours.push_back({static_cast<uint8_t>(i * 37 + 11), static_cast<uint8_t>(255 - i * 13), static_cast<uint8_t>(i * i), 255});
    return colours;
}

} // namespace

std::vector<BmpKind> bmp_kinds()
{
    return {
        {"core header, 24 bits", 12, 24},
        {"1-bit palette", 40, 1},
        {"4-bit palette", 40, 4},
        {"8-bit palette", 40, 8},
        {"8-bit palette, top-down", 40, 8, false, true},
        {"16 bits, 5-5-5", 40, 16},
        {"16 bits, 5-6-5 masks", 40, 16, true},
        {"24 bits", 40, 24},
        {"24 bits, top-down", 40, 24, false, true},
        {"32 bits without alpha", 40, 32},
        {"32 bits, v4 header with alpha mask", 108, 32, true},
        {"32 bits, v5 header with alpha mask, top-down", 124, 32, true, true},
        {"24 bits, v5 header", 124, 24},
        {"core header, 1-bit palette", 12, 1},
        {"core header, 4-bit palette", 12, 4},
        {"core header, 8-bit palette", 12, 8},
        {"24 bits, pixels after a gap", 40, 24, false, false, 10},
        {"4-bit palette, pixels after a gap", 40, 4, false, false, 6},
    };
}

Picture test_picture(uint32_t width, uint32_t height, const BmpKind& kind)
{
    Picture picture{width, height, {}};
    const std::vector<Rgba> palette = has_palette(kind) ? palette_of(kind) : std::vector<Rgba>{};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            // Different in every corner and along every edge.
            const uint32_t seed = x * 7 + y * y * 3 + (x > y ? 5 : 0) + (x * y) % 11;
            Rgba pixel{};
            if (has_palette(kind)) {
                pixel = palette[seed % palette.size()];
            } else if (kind.bits == 16) {
                const bool six_green = kind.bitfields;
                pixel = {widened(seed % 32, 5), widened((seed * 3) % (six_green ? 64 : 32), six_green ? 6 : 5),
                         widened((seed * 5 + y) % 32, 5), 255};
            } else {
                pixel = {static_cast<uint8_t>(seed * 3), static_cast<uint8_t>(x * 29 + y), static_cast<uint8_t>(y * 17 + 3), 255};
            }
            if (kind.bits == 32 && kind.bitfields)
                pixel[3] = static_cast<uint8_t>((x + y) % 3 == 0 ? 0 : 255 - seed % 100);
            picture.pixels.push_back(pixel);
        }
    }
    return picture;
}

std::vector<uint8_t> bmp_file(const Picture& picture, const BmpKind& kind)
{
    const std::vector<Rgba> palette = has_palette(kind) ? palette_of(kind) : std::vector<Rgba>{};
    const uint32_t row_bytes = (picture.width * kind.bits + 31) / 32 * 4;
    const uint32_t entry_bytes = kind.header == 12 ? 3 : 4;
    const uint32_t masks = kind.bitfields && kind.header == 40 ? 12 : 0;
    const auto palette_bytes = static_cast<uint32_t>(palette.size()) * entry_bytes;
    const uint32_t offset = 14 + kind.header + masks + palette_bytes + kind.gap;
    std::vector<uint8_t> out = {'B', 'M'};
    put_u32(out, offset + row_bytes * picture.height);
    put_u32(out, 0);
    put_u32(out, offset);
    put_u32(out, kind.header);
    if (kind.header == 12) {
        put_u16(out, static_cast<uint16_t>(picture.width));
        put_u16(out, static_cast<uint16_t>(picture.height));
        put_u16(out, 1);
        put_u16(out, kind.bits);
    } else {
        put_u32(out, picture.width);
        put_u32(out, kind.top_down ? static_cast<uint32_t>(-static_cast<int32_t>(picture.height)) : picture.height);
        put_u16(out, 1);
        put_u16(out, kind.bits);
        put_u32(out, kind.bitfields ? 3 : 0);
        put_u32(out, row_bytes * picture.height);
        put_u32(out, 2835);
        put_u32(out, 2835);
        put_u32(out, static_cast<uint32_t>(palette.size()));
        put_u32(out, 0);
        const uint32_t red = kind.bits == 16 ? 0xF800 : 0x00FF0000;
        const uint32_t green = kind.bits == 16 ? 0x07E0 : 0x0000FF00;
        const uint32_t blue = kind.bits == 16 ? 0x001F : 0x000000FF;
        if (kind.header >= 108) {
            for (uint32_t mask : {red, green, blue, kind.bitfields ? 0xFF000000u : 0u})
                put_u32(out, mask);
            put_u32(out, 0x73524742); // "sRGB"
            out.resize(out.size() + 48, 0);
            if (kind.header == 124)
                out.resize(out.size() + 16, 0);
        } else if (masks) {
            for (uint32_t mask : {red, green, blue})
                put_u32(out, mask);
        }
    }
    for (const Rgba& c : palette) {
        out.insert(out.end(), {c[2], c[1], c[0]});
        if (entry_bytes == 4)
            out.push_back(0);
    }
    out.resize(out.size() + kind.gap, 0xA5);
    for (uint32_t row = 0; row < picture.height; ++row) {
        const uint32_t y = kind.top_down ? row : picture.height - 1 - row;
        std::vector<uint8_t> bytes(row_bytes, 0);
        for (uint32_t x = 0; x < picture.width; ++x) {
            const Rgba& c = picture.pixels[y * picture.width + x];
            if (has_palette(kind)) {
                const auto index = static_cast<uint32_t>(std::find(palette.begin(), palette.end(), c) - palette.begin());
                if (index == palette.size())
                    throw std::runtime_error("a colour the palette lacks");
                const unsigned per_byte = 8 / kind.bits;
                bytes[x / per_byte] |= static_cast<uint8_t>(index << (8 - kind.bits * (1 + x % per_byte)));
            } else if (kind.bits == 16) {
                const uint32_t value = kind.bitfields ? (c[0] >> 3) << 11 | (c[1] >> 2) << 5 | c[2] >> 3
                                                      : (c[0] >> 3) << 10 | (c[1] >> 3) << 5 | c[2] >> 3;
                bytes[2 * x] = static_cast<uint8_t>(value);
                bytes[2 * x + 1] = static_cast<uint8_t>(value >> 8);
            } else {
                const size_t at = x * (kind.bits / 8);
                bytes[at] = c[2];
                bytes[at + 1] = c[1];
                bytes[at + 2] = c[0];
                if (kind.bits == 32)
                    bytes[at + 3] = kind.bitfields ? c[3] : 0x5A;
            }
        }
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

} // namespace meshwright
