#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gltf/glb_writer.hpp"

namespace meshwright {

// The textures of a binary glTF file in `folder`: for each texture name, the
// bitmap that the material file would name beside it, as a PNG image;
// nothing for a name without one, or whose file cannot be read or decoded.
// Bitmaps are read, decoded and encoded on up to `threads` threads (0:
// one per processor), each holding one bitmap at a time; the result does not
// depend on how many.
std::vector<std::optional<GlbTexture>> find_textures(const std::filesystem::path& folder,
                                                     const std::vector<std::string>& names, unsigned threads);

} // namespace meshwright
