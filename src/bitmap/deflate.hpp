#pragma once

// stb_image_write's deflate, as a zlib stream allocated with malloc: kept in
// a file of its own, since the PNG writer's own copy gives way to the choice
// in png_encoder.cpp.
namespace meshwright {

unsigned char* stb_deflate(unsigned char* data, int length, int* out_length, int quality);

} // namespace meshwright
