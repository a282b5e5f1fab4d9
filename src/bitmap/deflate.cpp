#include "bitmap/deflate.hpp"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace meshwright {

unsigned char* stb_deflate(unsigned char* data, int length, int* out_length, int quality)
{
    return stbi_zlib_compress(data, length, out_length, quality);
}

} // namespace meshwright
