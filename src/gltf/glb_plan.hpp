#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bsp/bsp_data.hpp"

namespace meshwright {

// Where each part of a level goes in its binary glTF file: one mesh per
// model that has triangles, with one primitive per material among that
// model's surfaces (in the order of first use), each primitive's triangles in
// file order; one material per texture name that has triangles, in
// byte-wise order of the names as readers show them.
class GlbPlan {
  public:
    static constexpr uint32_t no_mesh = ~uint32_t{0};

    struct Primitive {
        uint32_t material = 0;
        uint64_t first_surface = 0; // in surfaces()
        uint64_t surface_count = 0;
        uint64_t index_count = 0;
        // Indices are 32-bit where a vertex number is 65535, the one value
        // that 16-bit indices may not hold.
        bool wide = false;
        uint64_t byte_offset = 0; // in the index data, a multiple of 4
        uint64_t byte_length() const { return index_count * (wide ? 4 : 2); }
    };

    struct Mesh {
        uint32_t first_primitive = 0;
        uint32_t primitive_count = 0;
    };

    explicit GlbPlan(const BspData& level);

    const std::vector<std::string>& material_names() const { return material_names_; }
    // Each material's texture name as the material file gives it (the
    // first of the level's names that read as the material's name).
    const std::vector<std::string>& texture_names() const { return texture_names_; }
    const std::vector<Primitive>& primitives() const { return primitives_; }
    const std::vector<Mesh>& meshes() const { return meshes_; }
    // The mesh of each model, or no_mesh.
    const std::vector<uint32_t>& mesh_of_model() const { return mesh_of_model_; }
    // Surface numbers with triangles, primitive after primitive.
    const std::vector<uint32_t>& surfaces() const { return surfaces_; }
    // The size of all primitives' indices, each padded to 4 bytes.
    uint64_t index_bytes() const { return index_bytes_; }

  private:
    std::vector<uint32_t> material_of_surfaces(const BspData& level);
    std::vector<uint32_t> primitive_of_surfaces(const BspData& level, const std::vector<uint32_t>& material_of);
    void sort_surfaces(const std::vector<uint32_t>& primitive_of);

    std::vector<std::string> material_names_;
    std::vector<std::string> texture_names_;
    std::vector<Primitive> primitives_;
    std::vector<Mesh> meshes_;
    std::vector<uint32_t> mesh_of_model_;
    std::vector<uint32_t> surfaces_;
    uint64_t index_bytes_ = 0;
};

} // namespace meshwright
