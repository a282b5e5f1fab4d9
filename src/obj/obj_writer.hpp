#pragma once

#include <string_view>

#include "bsp/bsp_data.hpp"
#include "io/output_file.hpp"
#include "obj/mtl_writer.hpp"

namespace meshwright {

// Writes the level's geometry into `file` as a Wavefront OBJ file whose
// "mtllib" line names `material_file`, and returns the materials it uses.
// The level has passed check_vertex_indices(). Throws the file's write
// failure.
//
// The lines are formatted on `threads` threads (0: as many as the processor
// runs at once, one for small levels); the bytes are the same for any count.
TextureNames write_obj(const BspData& level, OutputFile& file, std::string_view material_file, unsigned threads = 0);

} // namespace meshwright
