#include "bitmap/bitmap.hpp"

#include <memory>
#include <new>

// stb_image_write's PNG writer: its own deflate, the same bytes on every
// system, in every build (the command line, Windows, the page).
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace meshwright {

namespace {

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
