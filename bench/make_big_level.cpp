// Makes the benchmark's levels, one shape at a time:
//   benchmark              a million vertices and texture coordinates, 10,000
//                          surfaces of 200 triangles over local tables of 150
//                          entries, 16 models and 300 texture names (36 MB)
//   one_triangle_surfaces  a million surfaces of one triangle each (108 MB)
//   one_big_surface        one surface of four million triangles (24 MB)
//   degenerate             the benchmark level with nine triangles in ten
//                          collapsed onto a line or a point (NaN normals)
//   small_triangles        16 layers of a 256 x 256 grid of small triangles
//                          (2 million triangles, for the page's preview)
//   over_preview_budget    5 such layers (650,000 triangles, just over the
//                          page's preview budget)
//   textured               the benchmark level over 64 texture names, with a
//                          256 x 256 24-bit bitmap for each in textures/
//                          beside OUTPUT (12 MB of pixels)
//   missing_textures       1000 surfaces of 2 triangles, each with a texture
//                          name of its own, none of whose bitmaps exists
//   large_textures         300 surfaces of 2 triangles, each with a texture
//                          name of its own, and a 1024 x 1024 24-bit bitmap of
//                          noise for each in textures/ beside OUTPUT (900 MB)
//
//   make_big_level SHAPE OUTPUT
#include <cmath>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <random>
#include <stdexcept>

#include "bitmap_builder.hpp"
#include "level_builder.hpp"

namespace meshwright {
namespace {

constexpr size_t model_count = 16;
constexpr size_t texture_count = 300;

constexpr size_t bitmap_count = 64;
constexpr uint32_t bitmap_size = 256;

std::string texture_name(size_t surface, size_t textures)
{
    return "textures/set_" + std::to_string(surface % textures);
}

// Vertices and texture coordinates spread over a large room.
void add_vertices(LevelPlan& plan, std::mt19937& random, size_t count)
{
    std::uniform_real_distribution<float> position(-4096.0f, 4096.0f);
    std::uniform_real_distribution<float> tex_coord(-8.0f, 8.0f);
    for (size_t m = 0; m < model_count; ++m)
        plan.models.push_back("model_" + std::to_string(m));
    plan.vertices.resize(count);
    for (auto& v : plan.vertices)
        v = {position(random), position(random), position(random)};
    plan.tex_coords.resize(count);
    for (auto& t : plan.tex_coords)
        t = {tex_coord(random), tex_coord(random)};
}

// Surfaces of random triangles over random local tables. With `collapsed`,
// nine triangles in ten repeat a corner.
void add_surfaces(LevelPlan& plan, std::mt19937& random, size_t surfaces, size_t triangles, size_t table_size,
                  bool collapsed, size_t textures = texture_count)
{
    std::uniform_int_distribution<int> vertex(0, 65535);
    std::uniform_int_distribution<int> corner(0, static_cast<int>(table_size) - 1);
    for (size_t s = 0; s < surfaces; ++s) {
        plan.surfaces.push_back({static_cast<uint32_t>(s % model_count), texture_name(s, textures)});
        GeometryRecord record;
        for (size_t i = 0; i < table_size; ++i)
            record.local_indices.push_back(static_cast<uint16_t>(table_size >= 65536 ? i : vertex(random)));
        for (size_t t = 0; t < triangles; ++t) {
            const auto c0 = static_cast<uint16_t>(corner(random));
            const auto c1 = static_cast<uint16_t>(corner(random));
            const auto c2 = collapsed && t % 10 != 0 ? (t % 2 ? c0 : c1) : static_cast<uint16_t>(corner(random));
            record.corners.push_back({c0, c1, c2});
        }
        plan.geometry.push_back(std::move(record));
    }
}

// A gently rolling 256 x 256 grid of vertices one unit apart, covered
// `layers` times by surfaces of two triangles per square, each layer a model
// of its own with a texture of its own.
LevelPlan grid_layers(std::mt19937& random, size_t layers)
{
    constexpr int side = 256;
    std::uniform_real_distribution<float> bump(-0.2f, 0.2f);
    LevelPlan plan;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const float height = 8.0f * std::sin(static_cast<float>(x) / 20.0f) * std::cos(static_cast<float>(y) / 25.0f);
            plan.vertices.push_back({static_cast<float>(x), height + bump(random), static_cast<float>(y)});
            plan.tex_coords.push_back({static_cast<float>(x) / 16.0f, static_cast<float>(y) / 16.0f});
        }
    }
    for (size_t layer = 0; layer < layers; ++layer) {
        plan.models.push_back("layer_" + std::to_string(layer));
        for (int row = 0; row + 1 < side; ++row) {
            GeometryRecord record;
            for (int x = 0; x < side; ++x) {
                record.local_indices.push_back(static_cast<uint16_t>(row * side + x));
                record.local_indices.push_back(static_cast<uint16_t>((row + 1) * side + x));
            }
            for (int x = 0; x + 1 < side; ++x) {
                const auto corner = [&](int dx, int dy) { return static_cast<uint16_t>(2 * (x + dx) + dy); };
                // Facing up in the converted files.
                record.corners.push_back({corner(0, 0), corner(1, 1), corner(1, 0)});
                record.corners.push_back({corner(0, 0), corner(0, 1), corner(1, 1)});
            }
            plan.surfaces.push_back({static_cast<uint32_t>(layer), "textures/layer_" + std::to_string(layer)});
            plan.geometry.push_back(std::move(record));
        }
    }
    return plan;
}

// `count` bitmaps of `size` x `size` pixels; `grain` up to 255 is noise.
void write_bitmaps(const std::filesystem::path& folder, size_t count, uint32_t size, int grain_size)
{
    std::filesystem::create_directories(folder);
    const BmpKind kind{"24 bits", 40, 24};
    std::mt19937 random(64);
    std::uniform_int_distribution<int> grain(0, grain_size);
    for (size_t t = 0; t < count; ++t) {
        Picture picture = test_picture(size, size, kind);
        // Each its own, and with a grain, as photographed textures have:
        // they do not compress much.
        for (Rgba& pixel : picture.pixels) {
            for (int c = 0; c < 3; ++c)
                pixel[c] = static_cast<uint8_t>(pixel[c] + grain(random) + (c == 2 ? t * 4 : 0));
        }
        write_file((folder / ("set_" + std::to_string(t) + ".bmp")).string(), bmp_file(picture, kind));
    }
}

LevelPlan level_of_shape(const std::string& shape)
{
    std::mt19937 random(20261207);
    LevelPlan plan;
    if (shape == "benchmark" || shape == "degenerate") {
        add_vertices(plan, random, 1'000'000);
        add_surfaces(plan, random, 10'000, 200, 150, shape == "degenerate");
    } else if (shape == "textured") {
        add_vertices(plan, random, 1'000'000);
        add_surfaces(plan, random, 10'000, 200, 150, false, bitmap_count);
    } else if (shape == "large_textures") {
        add_vertices(plan, random, 65536);
        add_surfaces(plan, random, 300, 2, 10, false, 300);
    } else if (shape == "missing_textures") {
        add_vertices(plan, random, 65536);
        add_surfaces(plan, random, 1000, 2, 10, false, 1000);
    } else if (shape == "one_triangle_surfaces") {
        add_vertices(plan, random, 65536);
        add_surfaces(plan, random, 1'000'000, 1, 3, false);
    } else if (shape == "small_triangles") {
        plan = grid_layers(random, 16);
    } else if (shape == "over_preview_budget") {
        plan = grid_layers(random, 5);
    } else if (shape == "one_big_surface") {
        add_vertices(plan, random, 65536);
        add_surfaces(plan, random, 1, 4'000'000, 65536, false);
    } else {
        throw std::invalid_argument("unknown shape " + shape);
    }
    return plan;
}

} // namespace
} // namespace meshwright

int main(int argc, char** argv)
{
    using namespace meshwright;
    if (argc != 3) {
        std::cerr << "usage: make_big_level benchmark|one_triangle_surfaces|one_big_surface|degenerate|small_triangles|"
                     "over_preview_budget|textured|missing_textures|large_textures OUTPUT\n";
        return 2;
    }
    try {
        write_file(argv[2], build_level(level_of_shape(argv[1])));
        const std::filesystem::path textures = std::filesystem::path(argv[2]).parent_path() / "textures";
        if (std::string(argv[1]) == "textured")
            write_bitmaps(textures, bitmap_count, bitmap_size, 31);
        else if (std::string(argv[1]) == "large_textures")
            write_bitmaps(textures, 300, 1024, 255);
    } catch (const std::exception& error) {
        std::cerr << "make_big_level: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
