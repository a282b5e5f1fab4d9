#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace meshwright {

// Writes Windows bitmaps of every common kind from a picture, for the tests
// and the fuzzing corpus: written here from the format's description, not
// by the converter's own code.

using Rgba = std::array<uint8_t, 4>;

// Rows from the top.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Rgba> pixels;
};

struct BmpKind {
    std::string name;
    uint32_t header = 40;    // 12, 40, 108 or 124 bytes
    uint16_t bits = 24;      // 1, 4, 8, 16, 24 or 32
    bool bitfields = false;  // masks (16 bits: 5-6-5; 32 bits: B, G, R and alpha with a 108/124-byte header)
    bool top_down = false;   // a negative height
    uint32_t gap = 0;        // bytes between the headers (and palette) and the pixels
};

// Every kind the converter reads; each one's picture uses only colours it
// holds exactly.
std::vector<BmpKind> bmp_kinds();

// A picture of `width` x `height` that no flip or turn maps onto itself,
// with colours that `kind` holds exactly: as many as its palette has, 5 or 6
// bits a channel for 16 bits, and alpha only for 32 bits with masks.
Picture test_picture(uint32_t width, uint32_t height, const BmpKind& kind);

// The bitmap file. 32-bit pixels without an alpha mask get 0x5A as their
// fourth byte, which readers must not take for alpha.
std::vector<uint8_t> bmp_file(const Picture& picture, const BmpKind& kind);

} // namespace meshwright
