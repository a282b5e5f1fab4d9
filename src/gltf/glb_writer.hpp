#pragma once

#include "bsp/bsp_data.hpp"
#include "io/output_file.hpp"

namespace meshwright {

// Writes the level into `file` as one binary glTF 2.0 file: the OBJ's
// geometry (its axis order and winding) as one node per model, each with a
// mesh of one primitive per material; all primitives share the positions
// and texture coordinates, and a vertex without a texture coordinate gets
// (0, 0). Texture coordinates are the level's own, which land where the
// OBJ's (u, -v) do, up to whole repeats of the texture, since glTF counts v
// from the top. No normals: readers make flat ones, as the OBJ's are. Each
// material has a base colour of its own worked out from its name.
//
// The level has passed check_vertex_indices(). Throws the file's write
// failure, also for a level too large for the format's 32-bit sizes.
void write_glb(const BspData& level, OutputFile& file, const char* write_failure);

} // namespace meshwright
