#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"
#include "io/output_file.hpp"

namespace meshwright {

// A material's texture as the file embeds it.
struct GlbTexture {
    std::vector<uint8_t> png;
    bool alpha = false; // some pixels are not opaque: a cut-out texture
};

// Finds the textures of the materials, given each material's texture name
// as the material file gives it: one entry per name, empty where there is
// none to embed.
using TextureFinder = std::function<std::vector<std::optional<GlbTexture>>(const std::vector<std::string>& names)>;

// Writes the level into `file` as one binary glTF 2.0 file: the OBJ's
// geometry (its axis order and winding) as one node per model, each with a
// mesh of one primitive per material; all primitives share the positions
// and texture coordinates, and a vertex without a texture coordinate gets
// the OBJ's (0, 0). Texture coordinates are the OBJ's (u, 1 - v), the conversion
// every glTF tool makes, since glTF counts v from the top of the image. No
// normals: readers make flat ones, as the OBJ's are. A material whose
// texture `find_textures` finds shows it (as an embedded PNG image that
// repeats both ways, cut out where it is not opaque); every other material
// has a base colour of its own worked out from its name.
//
// The level has passed check_vertex_indices(). Throws the file's write
// failure, also for a level too large for the format's 32-bit sizes.
void write_glb(const BspData& level, OutputFile& file, const char* write_failure,
               const TextureFinder& find_textures = {});

} // namespace meshwright
