#include "gltf/glb_plan.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <unordered_map>

#include "gltf/json_text.hpp"

namespace meshwright {

namespace {

constexpr uint32_t none = ~uint32_t{0};
constexpr uint16_t largest_short_index = 0xFFFF;

bool names_largest_short_index(const BspData& level, const BspSurface& surface)
{
    const auto corners = level.triangle_indices_of(surface);
    return std::find(corners.begin(), corners.end(), largest_short_index) != corners.end();
}

} // namespace

GlbPlan::GlbPlan(const BspData& level) : mesh_of_model_(level.models.size(), no_mesh)
{
    const std::vector<uint32_t> material_of = material_of_surfaces(level);
    sort_surfaces(primitive_of_surfaces(level, material_of));
    for (Primitive& primitive : primitives_) {
        primitive.byte_offset = index_bytes_;
        index_bytes_ += (primitive.byte_length() + 3) / 4 * 4;
    }
}

// Surfaces whose names read the same are one material, as in the OBJ.
std::vector<uint32_t> GlbPlan::material_of_surfaces(const BspData& level)
{
    // Levels name a few hundred textures over up to millions of surfaces:
    // a name seen before, as stored, is not made readable again.
    std::unordered_map<std::string_view, uint32_t> seen;
    std::map<std::string, uint32_t> readable; // readable name -> material, numbered once all are known
    std::vector<uint32_t> material_of(level.surfaces.size(), none);
    std::vector<std::map<std::string, uint32_t>::iterator> slots;
    std::vector<std::string> slot_texture_names;
    for (size_t s = 0; s < level.surfaces.size(); ++s) {
        const BspSurface& surface = level.surfaces[s];
        if (surface.triangle_count == 0)
            continue;
        const auto [known, added] = seen.try_emplace(surface.texture_name.text(), static_cast<uint32_t>(slots.size()));
        if (added) {
            slots.push_back(readable.try_emplace(readable_name(surface.texture_name.text()), 0).first);
            slot_texture_names.emplace_back(surface.texture_name.line_safe().text());
        }
        material_of[s] = known->second;
    }
    for (auto& [name, number] : readable) {
        number = static_cast<uint32_t>(material_names_.size());
        material_names_.push_back(name);
    }
    texture_names_.resize(material_names_.size());
    for (size_t slot = slots.size(); slot-- > 0;)
        texture_names_[slots[slot]->second] = slot_texture_names[slot];
    for (uint32_t& material : material_of) {
        if (material != none)
            material = slots[material]->second;
    }
    return material_of;
}

std::vector<uint32_t> GlbPlan::primitive_of_surfaces(const BspData& level, const std::vector<uint32_t>& material_of)
{
    std::vector<uint32_t> primitive_of(level.surfaces.size(), none);
    std::unordered_map<uint32_t, uint32_t> primitive_of_material;
    for (size_t m = 0; m < level.models.size(); ++m) {
        primitive_of_material.clear();
        const auto first = static_cast<uint32_t>(primitives_.size());
        for (uint32_t s : level.models[m].surface_numbers) {
            if (material_of[s] == none)
                continue;
            const auto [slot, added] =
                primitive_of_material.try_emplace(material_of[s], static_cast<uint32_t>(primitives_.size()));
            if (added)
                primitives_.push_back({material_of[s]});
            Primitive& primitive = primitives_[slot->second];
            primitive.surface_count += 1;
            primitive.index_count += 3 * uint64_t{level.surfaces[s].triangle_count};
            primitive.wide = primitive.wide || names_largest_short_index(level, level.surfaces[s]);
            primitive_of[s] = slot->second;
        }
        const auto count = static_cast<uint32_t>(primitives_.size()) - first;
        if (count > 0) {
            mesh_of_model_[m] = static_cast<uint32_t>(meshes_.size());
            meshes_.push_back({first, count});
        }
    }
    return primitive_of;
}

// Surface numbers grouped by primitive; ascending, that is in file order,
// within each.
void GlbPlan::sort_surfaces(const std::vector<uint32_t>& primitive_of)
{
    std::vector<uint64_t> next(primitives_.size());
    uint64_t total = 0;
    for (size_t p = 0; p < primitives_.size(); ++p) {
        primitives_[p].first_surface = next[p] = total;
        total += primitives_[p].surface_count;
    }
    surfaces_.resize(total);
    for (size_t s = 0; s < primitive_of.size(); ++s) {
        if (primitive_of[s] != none)
            surfaces_[next[primitive_of[s]]++] = static_cast<uint32_t>(s);
    }
}

} // namespace meshwright
