#include "bsp/level_checks.hpp"

#include <algorithm>

#include "base/messages.hpp"

namespace meshwright {

void check_vertex_indices(const BspData& level)
{
    for (const BspSurface& surface : level.surfaces) {
        // The highest index of each surface, in a loop without an exit that
        // the compiler turns into wide comparisons.
        uint16_t highest = 0;
        for (uint16_t index : level.triangle_indices_of(surface))
            highest = std::max(highest, index);
        if (surface.triangle_count > 0 && highest >= level.vertices.size())
            throw messages::vertex_index_out_of_range;
    }
}

} // namespace meshwright
