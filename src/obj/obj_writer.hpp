#pragma once

#include <string>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// Writes the level's geometry to `output_path` as a Wavefront OBJ file and
// its materials to the companion material file. Throws a message text when
// the level cannot be written as it stands or a file cannot be written.
//
// The lines are formatted on `threads` threads (0: as many as the processor
// runs at once, one for small levels); the bytes are the same for any count.
void write_obj(BspData level, const std::string& output_path, unsigned threads = 0);

} // namespace meshwright
