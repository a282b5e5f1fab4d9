#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// What a level's glTF file shows, before any number of the file is handed
// out: one mesh per model that has triangles, with one primitive per
// material among that model's surfaces (in the order of first use), each
// primitive's triangles in file order; one material per texture name that
// has triangles, as the material file writes it, in the material file's
// (byte-wise) order.
class GltfScene {
  public:
    static constexpr uint32_t no_mesh = ~uint32_t{0};

    struct Primitive {
        uint32_t material = 0;
        uint64_t first_surface = 0; // in surfaces()
        uint64_t surface_count = 0;
        uint64_t triangle_count = 0;
    };

    struct Mesh {
        uint32_t model = 0;
        uint32_t first_primitive = 0;
        uint32_t primitive_count = 0;
    };

    explicit GltfScene(const BspData& level);

    // Each material's name as readers show it, unique: names that read
    // alike once made readable get "#2", "#3"..., since Blender renames
    // duplicates and Godot writes one file per material name.
    const std::vector<std::string>& material_names() const { return material_names_; }
    // Each material's texture name as the material file gives it.
    const std::vector<std::string>& texture_names() const { return texture_names_; }
    const std::vector<Primitive>& primitives() const { return primitives_; }
    const std::vector<Mesh>& meshes() const { return meshes_; }
    // The mesh of each model, or no_mesh.
    const std::vector<uint32_t>& mesh_of_model() const { return mesh_of_model_; }
    // Surface numbers with triangles, primitive after primitive.
    const std::vector<uint32_t>& surfaces() const { return surfaces_; }

  private:
    std::vector<uint32_t> material_of_surfaces(const BspData& level);
    void name_materials();
    std::vector<uint32_t> primitive_of_surfaces(const BspData& level, const std::vector<uint32_t>& material_of);
    void sort_surfaces(const std::vector<uint32_t>& primitive_of);

    std::vector<std::string> material_names_;
    std::vector<std::string> texture_names_;
    std::vector<Primitive> primitives_;
    std::vector<Mesh> meshes_;
    std::vector<uint32_t> mesh_of_model_;
    std::vector<uint32_t> surfaces_;
};

} // namespace meshwright
