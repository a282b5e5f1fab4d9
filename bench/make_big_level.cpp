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
//   realistic              rooms joined by corridors, level or sloped, as a
//                          compiled level has them: each face cut into 3 x 3
//                          squares, each a surface of two triangles with
//                          vertices of its own; exactly 65,536 vertices (all
//                          that 16-bit corners reach), 300 texture names, 16
//                          models
//   realistic_textured     the same, with a 256 x 256 24-bit bitmap for each
//                          texture in textures/ beside OUTPUT
//
//   game                   a game folder at OUTPUT: 50 levels in maps/ and
//                          two subfolders, each of 3,200 triangles over
//                          4,096 vertices in 64 surfaces, each with its own
//                          of 300 texture names (a quarter of them with a
//                          folder in them: "wall/set_N"); a 256 x 256 24-bit
//                          bitmap for each name in textures/, named in mixed
//                          case, some in subfolders
//
//   make_big_level SHAPE OUTPUT
#include <algorithm>
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

// Rooms of 512 x 256 x 512 units on a grid, each at a height of its own,
// joined to the next in both directions by corridors of 256 x 256 x 128
// that climb or fall between them, added until every 16-bit vertex number
// is taken.
class RealisticLevel {
  public:
    static constexpr size_t vertex_limit = size_t{1} << 16;
    static constexpr int cells = 3; // squares along each side of a face
    static constexpr int rooms_per_row = 17;

    LevelPlan make()
    {
        for (int m = 0; m < static_cast<int>(model_count); ++m)
            plan_.models.push_back(m == 0 ? "worldspawn" : "door_" + std::to_string(m));
        for (int room = 0; !full(); ++room)
            add_room(room);
        return std::move(plan_);
    }

  private:
    using V = std::array<float, 3>;

    // Heights of no round numbers, as a level editor's grid seldom gives
    // them once a level is compiled.
    static float base_of(int gx, int gz) { return 23.7f * static_cast<float>((gx * 7 + gz * 3) % 5) + 0.37f * gz; }
    bool full() const { return plan_.vertices.size() + 4 > vertex_limit; }

    void add_room(int room)
    {
        const int gx = room % rooms_per_row;
        const int gz = room / rooms_per_row;
        // Nor do rooms stand on round numbers: sloped faces' corners are then
        // rounded, and their triangles' normals round apart now and then.
        const float x = 767.9f * static_cast<float>(gx) + 1.3f * static_cast<float>(gz);
        const float z = 768.4f * static_cast<float>(gz) + 0.7f * static_cast<float>(gx);
        const float y = base_of(gx, gz);
        // Doors are models of their own in these levels: every 20th room's
        // faces stand for them.
        model_ = room % 20 == 0 ? static_cast<uint32_t>(1 + room / 20 % (model_count - 1)) : 0;
        texture_ = static_cast<size_t>(room) * 3;
        // Each face's corners run so that its normal points into the room.
        face({x, y, z}, {0, 0, 512}, {512, 0, 0}, 0);         // floor
        face({x, y + 256, z}, {512, 0, 0}, {0, 0, 512}, 2);   // ceiling
        face({x, y, z}, {0, 256, 0}, {0, 0, 512}, 1);         // walls
        face({x + 512, y, z}, {0, 0, 512}, {0, 256, 0}, 1);
        face({x, y, z}, {512, 0, 0}, {0, 256, 0}, 1);
        face({x, y, z + 512}, {0, 256, 0}, {512, 0, 0}, 1);
        if (gx + 1 < rooms_per_row)
            corridor({x + 512, y, z + 192}, base_of(gx + 1, gz) - y, false);
        corridor({z + 512, y, x + 192}, base_of(gx, gz + 1) - y, true);
    }

    // A corridor 256 long from `start` along x, rising by `rise`; along z,
    // with x and z swapped, where `along_z`.
    void corridor(const V& start, float rise, bool along_z)
    {
        const auto add = [&](V o, V a, V b) {
            if (along_z) {
                // Swapping two axes turns the faces inside out: the edges
                // swap too.
                std::swap(o[0], o[2]);
                std::swap(a[0], a[2]);
                std::swap(b[0], b[2]);
                std::swap(a, b);
            }
            face(o, a, b, 1);
        };
        const V slope{256, rise, 0};
        // Floor and ceiling lean sideways too, as worn ramps do: planes in no
        // axis' direction, whose triangles' rounded normals often differ.
        const V across{0, 9.3f, 128};
        const auto [x, y, z] = start;
        add({x, y, z}, across, slope);                        // floor
        add({x, y + 256, z}, slope, across);                  // ceiling
        add({x, y, z}, slope, {0, 256, 0});                  // walls
        add({x, y, z + 128}, {0, 256, 0}, slope);
    }

    // A face of cells x cells squares, each a surface of two triangles over
    // four vertices of its own, as a compiled level cuts its faces.
    void face(const V& origin, const V& a, const V& b, size_t texture_offset)
    {
        const float a_length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        const float b_length = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
        for (int j = 0; j < cells && !full(); ++j) {
            for (int i = 0; i < cells && !full(); ++i) {
                GeometryRecord record;
                for (int corner = 0; corner < 4; ++corner) {
                    // Corners around the square: (0, 0), (1, 0), (1, 1), (0, 1).
                    const float s = static_cast<float>(i + (corner == 1 || corner == 2)) / cells;
                    const float t = static_cast<float>(j + (corner >= 2)) / cells;
                    record.local_indices.push_back(static_cast<uint16_t>(plan_.vertices.size()));
                    plan_.vertices.push_back({origin[0] + s * a[0] + t * b[0], origin[1] + s * a[1] + t * b[1],
                                              origin[2] + s * a[2] + t * b[2]});
                    plan_.tex_coords.push_back({s * a_length / 128.0f, t * b_length / 128.0f});
                }
                record.corners = {{0, 1, 2}, {0, 2, 3}};
                plan_.surfaces.push_back({model_, texture_name(texture_ + texture_offset, texture_count)});
                plan_.geometry.push_back(std::move(record));
            }
        }
    }

    LevelPlan plan_;
    uint32_t model_ = 0;
    size_t texture_ = 0;
};

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

// The game's texture names, and where each one's bitmap is below the game's
// textures/ folder: as named, in upper case, in a subfolder, capitalised.
std::string game_texture(size_t t)
{
    return (t % 4 == 0 ? "wall/set_" : "set_") + std::to_string(t);
}

std::string game_bitmap(size_t t)
{
    const std::string number = std::to_string(t);
    switch (t % 4) {
    case 0:
        return "Wall/SET_" + number + ".BMP";
    case 1:
        return "SET_" + number + ".BMP";
    case 2:
        return "sub/set_" + number + ".bmp";
    default:
        return "Set_" + number + ".bmp";
    }
}

LevelPlan game_level(std::mt19937& random)
{
    constexpr size_t vertices = 4096, surfaces = 64, triangles = 50, table_size = 64;
    LevelPlan plan;
    std::uniform_real_distribution<float> position(-1024.0f, 1024.0f);
    std::uniform_real_distribution<float> tex_coord(-4.0f, 4.0f);
    plan.models = {"world", "door"};
    for (size_t v = 0; v < vertices; ++v) {
        plan.vertices.push_back({position(random), position(random), position(random)});
        plan.tex_coords.push_back({tex_coord(random), tex_coord(random)});
    }
    std::vector<size_t> textures(texture_count);
    for (size_t t = 0; t < texture_count; ++t)
        textures[t] = t;
    std::shuffle(textures.begin(), textures.end(), random);
    std::uniform_int_distribution<int> vertex(0, static_cast<int>(vertices) - 1);
    std::uniform_int_distribution<int> corner(0, static_cast<int>(table_size) - 1);
    for (size_t s = 0; s < surfaces; ++s) {
        plan.surfaces.push_back({static_cast<uint32_t>(s % 2), game_texture(textures[s])});
        GeometryRecord record;
        for (size_t i = 0; i < table_size; ++i)
            record.local_indices.push_back(static_cast<uint16_t>(vertex(random)));
        for (size_t t = 0; t < triangles; ++t)
            record.corners.push_back({static_cast<uint16_t>(corner(random)), static_cast<uint16_t>(corner(random)),
                                      static_cast<uint16_t>(corner(random))});
        plan.geometry.push_back(std::move(record));
    }
    return plan;
}

void write_game(const std::filesystem::path& folder)
{
    std::mt19937 random(50);
    for (size_t l = 0; l < 50; ++l) {
        const std::filesystem::path level =
            folder / "maps" / (l < 20 ? "" : l < 35 ? "episode2" : "episode3") / ("e1m" + std::to_string(l + 1) + ".bsp");
        std::filesystem::create_directories(level.parent_path());
        write_file(level.string(), build_level(game_level(random)));
    }
    write_bitmaps(folder / "textures", texture_count, bitmap_size, 31);
    for (size_t t = 0; t < texture_count; ++t) {
        const std::filesystem::path bitmap = folder / "textures" / game_bitmap(t);
        std::filesystem::create_directories(bitmap.parent_path());
        std::filesystem::rename(folder / "textures" / ("set_" + std::to_string(t) + ".bmp"), bitmap);
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
    } else if (shape == "huge_textures") {
        add_vertices(plan, random, 65536);
        add_surfaces(plan, random, 16, 2, 10, false, 16);
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
    } else if (shape == "realistic" || shape == "realistic_textured") {
        plan = RealisticLevel().make();
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
                     "over_preview_budget|textured|missing_textures|large_textures|huge_textures|realistic|realistic_textured|game OUTPUT\n";
        return 2;
    }
    try {
        if (std::string(argv[1]) == "game") {
            write_game(argv[2]);
            return 0;
        }
        write_file(argv[2], build_level(level_of_shape(argv[1])));
        const std::filesystem::path textures = std::filesystem::path(argv[2]).parent_path() / "textures";
        if (std::string(argv[1]) == "textured")
            write_bitmaps(textures, bitmap_count, bitmap_size, 31);
        else if (std::string(argv[1]) == "large_textures")
            write_bitmaps(textures, 300, 1024, 255);
        else if (std::string(argv[1]) == "huge_textures")
            write_bitmaps(textures, 16, 4096, 255);
        else if (std::string(argv[1]) == "realistic_textured")
            write_bitmaps(textures, texture_count, bitmap_size, 31);
    } catch (const std::exception& error) {
        std::cerr << "make_big_level: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
