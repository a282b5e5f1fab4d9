#include "bitmap/bitmap.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "bitmap/deflate.hpp"

namespace meshwright {
namespace {
unsigned char* zlib_stream(unsigned char* data, int length, int* out_length, int quality);
} // namespace
} // namespace meshwright

// stb_image_write's PNG writer, with stb's own deflate where it pays: the
// same bytes on every system, in every build (the command line, Windows, the
// page).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STBIW_ZLIB_COMPRESS meshwright::zlib_stream
#include <stb_image_write.h>

namespace meshwright {

namespace {

uint32_t adler32(const unsigned char* data, size_t length)
{
    uint32_t a = 1;
    uint32_t b = 0;
    for (size_t at = 0; at < length;) {
        // 5552 bytes at most between the reductions, so that b cannot overflow.
        const size_t end = std::min(length, at + 5552);
        for (; at < end; ++at) {
            a += data[at];
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

// A zlib stream whose deflate blocks hold the data as they are.
unsigned char* stored_stream(const unsigned char* data, int length, int* out_length)
{
    constexpr size_t block = 65535;
    const auto size = static_cast<size_t>(length);
    const size_t blocks = std::max<size_t>(1, (size + block - 1) / block);
    auto* out = static_cast<unsigned char*>(std::malloc(2 + 5 * blocks + size + 4));
    if (!out)
        return nullptr;
    size_t at = 0;
    out[at++] = 0x78; // deflate with a 32 KiB window
    out[at++] = 0x01; // no preset dictionary, the check bits
    for (size_t b = 0; b < blocks; ++b) {
        const size_t start = b * block;
        const size_t count = std::min(block, size - std::min(size, start));
        out[at++] = b + 1 == blocks ? 1 : 0; // last block, stored
        const auto length16 = static_cast<uint16_t>(count);
        for (uint16_t value : {length16, static_cast<uint16_t>(~length16)}) {
            out[at++] = static_cast<unsigned char>(value);
            out[at++] = static_cast<unsigned char>(value >> 8);
        }
        std::memcpy(out + at, data + start, count);
        at += count;
    }
    const uint32_t check = adler32(data, size);
    for (int shift = 24; shift >= 0; shift -= 8)
        out[at++] = static_cast<unsigned char>(check >> shift);
    *out_length = static_cast<int>(at);
    return out;
}

// Textures are often photographs with a grain, which hardly compress, and
// deflating them takes three times as long as storing them, for the same
// size: a sample of the rows tells which they are.
unsigned char* zlib_stream(unsigned char* data, int length, int* out_length, int quality)
{
    constexpr int sample_bytes = 16384;
    const int sample = std::min(length, sample_bytes);
    int sample_out = 0;
    unsigned char* trial = stb_deflate(data, sample, &sample_out, quality);
    if (!trial)
        return nullptr;
    std::free(trial);
    if (static_cast<int64_t>(sample_out) * 10 > static_cast<int64_t>(sample) * 9)
        return stored_stream(data, length, out_length);
    return stb_deflate(data, length, out_length, quality);
}

struct StbWriteFree {
    void operator()(unsigned char* bytes) const { STBIW_FREE(bytes); }
};

} // namespace

std::vector<uint8_t> encode_png(const Bitmap& bitmap)
{
    const int width = static_cast<int>(bitmap.width);
    const int channels = static_cast<int>(bitmap.channels());
    int length = 0;
    const std::unique_ptr<unsigned char, StbWriteFree> png(stbi_write_png_to_mem(
        bitmap.pixels.data(), width * channels, width, static_cast<int>(bitmap.height), channels, &length));
    if (!png)
        throw std::bad_alloc();
    return {png.get(), png.get() + length};
}

} // namespace meshwright
