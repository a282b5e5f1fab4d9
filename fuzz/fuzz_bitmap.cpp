// Feeds arbitrary bytes to the bitmap reader, as a texture file beside an
// output would: every input decodes to a picture of the size its header
// gives, or to nothing; never a crash, a read out of bounds or an
// allocation beyond the pixel limit. A decoded picture encodes as PNG.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "bitmap/bitmap.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);
    const std::optional<meshwright::Bitmap> bitmap = meshwright::decode_bmp(file);
    if (!bitmap)
        return 0;
    const uint64_t pixels = uint64_t{bitmap->width} * bitmap->height;
    if (pixels == 0 || pixels > meshwright::max_bitmap_pixels || bitmap->pixels.size() != pixels * bitmap->channels() ||
        meshwright::bmp_bytes_needed(file) > size)
        std::abort();
    if (meshwright::encode_png(*bitmap).empty())
        std::abort();
    return 0;
}
