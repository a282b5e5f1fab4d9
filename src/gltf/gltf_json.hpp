#pragma once

#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"
#include "gltf/gltf_plan.hpp"
#include "gltf/gltf_scene.hpp"

namespace meshwright {

// The file's JSON text, in pieces: in the JSON form each image's data, then
// the buffer's, go between them as base64; the binary form has one piece.
std::vector<std::string> gltf_json(const BspData& level, const GltfScene& scene, const GltfPlan& plan, GltfForm form);

} // namespace meshwright
