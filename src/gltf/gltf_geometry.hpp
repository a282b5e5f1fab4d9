#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "bsp/bsp_data.hpp"
#include "gltf/gltf_scene.hpp"

namespace meshwright {

// The vertices of one primitive, its own: those its triangles use, each
// with the normal that the OBJ gives its triangle. A level's vertex is
// split only where triangles of the primitive with different normals meet.
struct PrimitiveVertices {
    std::vector<uint16_t> source; // the level's vertex of each
    std::vector<Vec3> normals;    // in the file's axes
    std::vector<uint32_t> corners; // three per triangle, in the OBJ's corner order
    Vec3 low;                      // the positions' box
    Vec3 high;

    // 16-bit indices cannot name vertex 65535: the value means "restart".
    bool wide() const { return source.size() > 0xFFFF; }
};

// What the file gives a triangle whose OBJ normal is no unit vector (NaN
// for a triangle of no area, infinite or zero where the arithmetic
// overflows or underflows): up, which glTF requires of no triangle but
// every reader takes.
inline constexpr Vec3 fallback_normal{0, 1, 0};

// glTF readers take finite numbers only: a level's NaN or infinity becomes
// 0. Positions are the OBJ's axis order (z, y, x).
Vec3 gltf_position(const Vec3& level_position);
// The OBJ's texture coordinate of a vertex, (0, 0) for one without, as
// glTF's (u, 1 - v): glTF counts v from the top of the image.
Vec2 gltf_tex_coord(const BspData& level, uint16_t vertex);

std::vector<PrimitiveVertices> primitive_vertices(const BspData& level, const GltfScene& scene);

// What one buffer view holds.
enum class ViewContent { positions, normals, tex_coords, indices, image };

using ByteSink = std::function<void(std::string_view)>;

// The bytes of a primitive's view of `content` (not image), unpadded.
void write_view(const BspData& level, const PrimitiveVertices& vertices, ViewContent content, const ByteSink& sink);
uint64_t view_bytes(const PrimitiveVertices& vertices, ViewContent content);

} // namespace meshwright
