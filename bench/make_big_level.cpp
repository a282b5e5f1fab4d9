// Makes the benchmark level: a million vertices and texture coordinates,
// 10,000 surfaces of 200 triangles over local tables of 150 entries, 16
// models and 300 texture names (about 36 MB).
//   make_big_level OUTPUT
#include <cstdio>
#include <iostream>
#include <random>
#include <stdexcept>

#include "level_builder.hpp"

namespace meshwright {
namespace {

constexpr size_t vertex_count = 1'000'000;
constexpr size_t surface_count = 10'000;
constexpr size_t triangles_per_surface = 200;
constexpr size_t local_table_size = 150;
constexpr size_t model_count = 16;
constexpr size_t texture_count = 300;

LevelPlan big_level()
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> position(-4096.0f, 4096.0f);
    std::uniform_real_distribution<float> tex_coord(-8.0f, 8.0f);
    std::uniform_int_distribution<int> vertex(0, 65535);
    std::uniform_int_distribution<int> corner(0, local_table_size - 1);

    LevelPlan plan;
    for (size_t m = 0; m < model_count; ++m)
        plan.models.push_back("model_" + std::to_string(m));
    plan.vertices.resize(vertex_count);
    for (auto& v : plan.vertices)
        v = {position(random), position(random), position(random)};
    plan.tex_coords.resize(vertex_count);
    for (auto& t : plan.tex_coords)
        t = {tex_coord(random), tex_coord(random)};
    for (size_t s = 0; s < surface_count; ++s) {
        plan.surfaces.push_back(
            {static_cast<uint32_t>(s % model_count), "textures/set_" + std::to_string(s % texture_count)});
        GeometryRecord record;
        for (size_t i = 0; i < local_table_size; ++i)
            record.local_indices.push_back(static_cast<uint16_t>(vertex(random)));
        for (size_t t = 0; t < triangles_per_surface; ++t) {
            record.corners.push_back({static_cast<uint16_t>(corner(random)), static_cast<uint16_t>(corner(random)),
                                      static_cast<uint16_t>(corner(random))});
        }
        plan.geometry.push_back(std::move(record));
    }
    return plan;
}

} // namespace
} // namespace meshwright

int main(int argc, char** argv)
{
    using namespace meshwright;
    if (argc != 2) {
        std::cerr << "usage: make_big_level OUTPUT\n";
        return 2;
    }
    try {
        write_file(argv[1], build_level(big_level()));
    } catch (const std::exception& error) {
        std::cerr << "make_big_level: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
