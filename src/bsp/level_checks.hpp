#pragma once

#include "bsp/bsp_data.hpp"

namespace meshwright {

// Throws a message text when a triangle names a vertex the level lacks, so
// that a level that cannot be written is refused before any file is made.
void check_vertex_indices(const BspData& level);

} // namespace meshwright
