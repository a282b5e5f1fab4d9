#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"
#include "gltf/gltf_plan.hpp"
#include "io/output_file.hpp"

namespace meshwright {

// A material's texture as the file embeds it.
struct GlbTexture {
    std::vector<uint8_t> png;
    bool alpha = false; // some pixels are not opaque: a cut-out texture
};

// Takes one material's texture, or nothing for a material without one.
using TextureTaker = std::function<void(std::optional<GlbTexture> texture)>;

// Finds the textures of the materials, given each material's texture name
// as the material file gives it, and hands them to `take` one at a time, in
// the names' order: one call for each name.
using TextureFinder = std::function<void(const std::vector<std::string>& names, const TextureTaker& take)>;

// Writes the level into `file` as one glTF 2.0 file: the OBJ's geometry
// (its axis order, winding and normals) as one node per model, each with a
// mesh of the same name with one primitive per material. Each primitive has
// vertices of its own, those its triangles use, split where triangles with
// different normals meet: readers that decode a shared table once per
// primitive run out of memory, and engines that make their own normals
// smooth them across shared vertices. Every corner's normal is the OBJ's
// for its triangle; a triangle whose OBJ normal is not a unit vector (one
// of no area, or one whose arithmetic overflows) gets fallback_normal, up.
// A vertex without a texture coordinate gets the OBJ's (0, 0). Texture
// coordinates are the OBJ's (u, 1 - v), the conversion every glTF tool
// makes, since glTF counts v from the top of the image. One material per
// texture name as the material file writes it: a material whose texture
// `find_textures` finds shows it (as an embedded PNG image named after it,
// that repeats both ways, cut out where it is not opaque); every other
// material has a base colour of its own worked out from its name. Both
// forms hold the same nodes, meshes, materials and accessors.
//
// Images wait for the JSON that gives their sizes in a scratch file beside a
// file that is staged, so that memory does not grow with them; in memory
// where the file is written in place (a device or FIFO).
//
// The level has passed check_vertex_indices(). Throws the file's write
// failure, also for a binary file too large for the format's 32-bit sizes.
void write_gltf(const BspData& level, OutputFile& file, GltfForm form, const char* write_failure,
                const TextureFinder& find_textures = {});

} // namespace meshwright
