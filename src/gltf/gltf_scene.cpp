#include "gltf/gltf_scene.hpp"

#include <map>
#include <set>
#include <string_view>
#include <unordered_map>

#include "gltf/json_text.hpp"

namespace meshwright {

namespace {

constexpr uint32_t none = ~uint32_t{0};

} // namespace

GltfScene::GltfScene(const BspData& level) : mesh_of_model_(level.models.size(), no_mesh)
{
    const std::vector<uint32_t> material_of = material_of_surfaces(level);
    name_materials();
    sort_surfaces(primitive_of_surfaces(level, material_of));
}

// One material per texture name as the material file writes it, so that the
// glTF file and the OBJ have the same materials.
std::vector<uint32_t> GltfScene::material_of_surfaces(const BspData& level)
{
    // Levels name a few hundred textures over up to millions of surfaces:
    // a name seen before, as stored, is not made line-safe again.
    std::unordered_map<std::string_view, uint32_t> seen;
    std::map<std::string, uint32_t> by_name; // texture name -> material, numbered once all are known
    std::vector<std::map<std::string, uint32_t>::iterator> slots;
    std::vector<uint32_t> material_of(level.surfaces.size(), none);
    for (size_t s = 0; s < level.surfaces.size(); ++s) {
        const BspSurface& surface = level.surfaces[s];
        if (surface.triangle_count == 0)
            continue;
        const auto [known, added] = seen.try_emplace(surface.texture_name.text(), static_cast<uint32_t>(slots.size()));
        if (added)
            slots.push_back(by_name.try_emplace(std::string(surface.texture_name.line_safe().text()), 0).first);
        material_of[s] = known->second;
    }
    for (auto& [name, number] : by_name) {
        number = static_cast<uint32_t>(texture_names_.size());
        texture_names_.push_back(name);
    }
    for (uint32_t& material : material_of) {
        if (material != none)
            material = slots[material]->second;
    }
    return material_of;
}

void GltfScene::name_materials()
{
    std::set<std::string> readable;
    for (const std::string& name : texture_names_)
        readable.insert(readable_name(name));
    std::set<std::string> given;
    for (const std::string& texture : texture_names_) {
        const std::string base = readable_name(texture);
        std::string name = base;
        // A suffix that no other texture name reads as either.
        for (unsigned n = 2; given.count(name) > 0 || (name != base && readable.count(name) > 0); ++n)
            name = base + "#" + std::to_string(n);
        given.insert(name);
        material_names_.push_back(std::move(name));
    }
}

std::vector<uint32_t> GltfScene::primitive_of_surfaces(const BspData& level, const std::vector<uint32_t>& material_of)
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
            primitive.triangle_count += level.surfaces[s].triangle_count;
            primitive_of[s] = slot->second;
        }
        const auto count = static_cast<uint32_t>(primitives_.size()) - first;
        if (count > 0) {
            mesh_of_model_[m] = static_cast<uint32_t>(meshes_.size());
            meshes_.push_back({static_cast<uint32_t>(m), first, count});
        }
    }
    return primitive_of;
}

// Surface numbers grouped by primitive; ascending, that is in file order,
// within each.
void GltfScene::sort_surfaces(const std::vector<uint32_t>& primitive_of)
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
