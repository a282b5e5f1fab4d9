#include "bsp/level_checks.hpp"

#include "base/messages.hpp"

namespace meshwright {

void check_vertex_indices(const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        for (uint16_t index : level.triangle_indices_of(surface)) {
            if (index >= level.vertices.size())
                throw messages::vertex_index_out_of_range;
        }
    }
}

} // namespace meshwright
