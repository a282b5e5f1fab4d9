#pragma once

#include <string>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// Writes the level's geometry to `output_path` as a Wavefront OBJ file and
// its materials to the companion material file. Throws a message text when
// the level cannot be written as it stands or a file cannot be written.
void write_obj(BspData level, const std::string& output_path);

} // namespace meshwright
