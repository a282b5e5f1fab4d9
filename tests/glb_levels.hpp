#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bitmap_builder.hpp"

namespace meshwright {

// Levels that try what the binary glTF output must get right, each with a
// name: a large generated level (with 32-bit indices), an empty level,
// surfaces without triangles, faces whose corners have no texture
// coordinate, names with control bytes and bytes that are not UTF-8,
// numbers that are not finite, a model without surfaces; a first surface
// that names vertex 65535 where the next does not, two models with the same
// material, a level far from the origin, vertices without triangles; and a
// textured level with a bitmap of every kind, missing and broken ones among
// them. The validator and the interop tests read the files converted from
// them, and the sample.
struct NamedLevel {
    std::string name;
    std::vector<uint8_t> bytes;
    // Files to put beside the output, by name: the textured level's bitmaps.
    std::map<std::string, std::vector<uint8_t>> files = {};
};

std::vector<NamedLevel> glb_test_levels();

// The textured level's textures: each texture name, what stands beside the
// output for it, and the picture a reader must see; no picture where the
// material keeps its colour (no file, or one that cannot be read).
struct TextureCase {
    std::string texture;
    std::string file_name;
    std::vector<uint8_t> file;
    std::optional<Picture> picture;
};

std::vector<TextureCase> texture_cases();

} // namespace meshwright
