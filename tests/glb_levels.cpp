#include "glb_levels.hpp"

#include <limits>
#include <random>

#include "level_builder.hpp"

namespace meshwright {

namespace {

// Four models, 70,000 vertices and 600 surfaces of 100 triangles over 20
// textures; one surface names vertex 65535, which 16-bit indices cannot.
LevelPlan large_level()
{
    std::mt19937 random(20261207);
    std::uniform_real_distribution<float> position(-2048.0f, 2048.0f);
    std::uniform_real_distribution<float> tex_coord(-4.0f, 4.0f);
    std::uniform_int_distribution<int> offset(0, 99);
    LevelPlan plan;
    plan.models = {"world", "door_1", "door_2", "lift"};
    for (int i = 0; i < 70000; ++i) {
        plan.vertices.push_back({position(random), position(random), position(random)});
        plan.tex_coords.push_back({tex_coord(random), tex_coord(random)});
    }
    for (int s = 0; s < 600; ++s) {
        const int base = s == 599 ? 65436 : s * 110;
        std::vector<std::array<uint16_t, 3>> triangles;
        for (int t = 0; t < 100; ++t) {
            const auto corner = [&] { return static_cast<uint16_t>(base + offset(random)); };
            triangles.push_back({corner(), corner(), t == 0 && s == 599 ? uint16_t{65535} : corner()});
        }
        add_surface(plan, static_cast<uint32_t>(s % 4), "textures/set_" + std::to_string(s % 20), triangles);
    }
    return plan;
}

LevelPlan square(std::vector<std::string> models)
{
    LevelPlan plan;
    plan.models = std::move(models);
    plan.vertices = {{0, 0, 0}, {64, 0, 0}, {64, 0, 64}, {0, 0, 64}};
    plan.tex_coords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    return plan;
}

LevelPlan surfaces_without_triangles()
{
    LevelPlan plan = square({"world", "empty_model"});
    add_surface(plan, 0, "floor", {{0, 1, 2}, {0, 2, 3}});
    add_surface(plan, 0, "unused", {});
    add_surface(plan, 1, "floor", {});
    return plan;
}

LevelPlan corners_without_tex_coords()
{
    LevelPlan plan = square({"world"});
    plan.tex_coords.resize(2);
    add_surface(plan, 0, "floor", {{0, 1, 2}, {0, 2, 3}});
    return plan;
}

LevelPlan odd_names()
{
    LevelPlan plan = square({"line\nbreak\x1b[31m\x7f", "bad \xff\xfe utf-8 \xC3", "quote\"back\\slash"});
    add_surface(plan, 0, "tab\tand\rreturn", {{0, 1, 2}});
    add_surface(plan, 1, "\xE2\x82 cut short", {{0, 2, 3}});
    add_surface(plan, 2, "caf\xC3\xA9 \xF0\x9F\x8E\xAE", {{0, 1, 3}});
    return plan;
}

LevelPlan non_finite_numbers()
{
    LevelPlan plan = square({"world"});
    const float infinity = std::numeric_limits<float>::infinity();
    plan.vertices.push_back({std::numeric_limits<float>::quiet_NaN(), 1, infinity});
    plan.tex_coords = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {-infinity, std::numeric_limits<float>::quiet_NaN()}};
    add_surface(plan, 0, "floor", {{0, 1, 4}, {0, 2, 3}});
    return plan;
}

LevelPlan model_without_surfaces()
{
    LevelPlan plan = square({"world", "nothing_here"});
    add_surface(plan, 0, "floor", {{0, 1, 2}, {0, 2, 3}});
    return plan;
}

// The first surface names vertex 65535, the second does not: the material's
// indices must be 32-bit all the same.
LevelPlan wide_first_surface()
{
    LevelPlan plan;
    plan.models = {"world"};
    for (int i = 0; i < 65536; ++i)
        plan.vertices.push_back({static_cast<float>(i % 256), static_cast<float>(i / 256), 1});
    add_surface(plan, 0, "floor", {{65533, 65534, 65535}});
    add_surface(plan, 0, "floor", {{0, 1, 256}});
    return plan;
}

LevelPlan models_sharing_a_material()
{
    LevelPlan plan = square({"world", "door"});
    add_surface(plan, 0, "floor", {{0, 1, 2}});
    add_surface(plan, 1, "floor", {{0, 2, 3}, {0, 1, 3}});
    return plan;
}

LevelPlan far_from_origin()
{
    LevelPlan plan;
    plan.models = {"world"};
    plan.vertices = {{10, 20, 30}, {11, 25, 33}, {17, 21, 31}};
    add_surface(plan, 0, "floor", {{0, 1, 2}});
    return plan;
}

LevelPlan vertices_without_triangles()
{
    LevelPlan plan = square({"world"});
    add_surface(plan, 0, "floor", {});
    return plan;
}

// Normals in one primitive: a box's corner, where three faces meet (split);
// flat quads, axis-aligned and sloped, whose two triangles share an edge
// (split only where their rounded normals differ); a triangle of no area,
// and one whose arithmetic underflows.
LevelPlan normals()
{
    LevelPlan plan;
    plan.models = {"world"};
    plan.vertices = {{0, 0, 0}, {64, 0, 0}, {0, 64, 0}, {0, 0, 64}, {64, 64, 0}, {64, 0, 64}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    add_surface(plan, 0, "box", {{0, 1, 2}, {1, 4, 2}, {0, 3, 1}, {3, 5, 1}, {0, 2, 3}});
    // Sloped quads of the usual kind: some pairs' normals round alike.
    for (int i = 0; i < 6; ++i) {
        const auto first = static_cast<uint16_t>(plan.vertices.size());
        const float x = 100.0f * static_cast<float>(i);
        const float rise = 7.0f + 13.0f * static_cast<float>(i);
        plan.vertices.insert(plan.vertices.end(), {{x, 0, 0}, {x + 48, 0, rise}, {x + 48, 32, rise}, {x, 32, 0}});
        add_surface(plan, 0, "slope", {{first, static_cast<uint16_t>(first + 1), static_cast<uint16_t>(first + 2)},
                                       {first, static_cast<uint16_t>(first + 2), static_cast<uint16_t>(first + 3)}});
    }
    const auto first = static_cast<uint16_t>(plan.vertices.size());
    plan.vertices.insert(plan.vertices.end(),
                         {{1e-30f, 0, 0}, {0, 1e-30f, 0}, {0, 0, 1e-30f}});
    const auto at = [&](int k) { return static_cast<uint16_t>(first + k); };
    add_surface(plan, 0, "box", {{0, 0, 1}, {at(0), at(1), at(2)}});
    return plan;
}

LevelPlan textured(const std::vector<TextureCase>& cases)
{
    LevelPlan plan = square({"world"});
    for (const TextureCase& c : cases)
        add_surface(plan, 0, c.texture, {{0, 1, 2}, {0, 2, 3}});
    return plan;
}

} // namespace

std::vector<TextureCase> texture_cases()
{
    std::vector<TextureCase> cases;
    int number = 0;
    for (const BmpKind& kind : bmp_kinds()) {
        const std::string texture = "kind_" + std::to_string(number++);
        const Picture picture = test_picture(7, 5, kind);
        cases.push_back({texture, texture + ".bmp", bmp_file(picture, kind), picture});
    }
    const BmpKind rgb{"24 bits", 40, 24};
    const Picture crate = test_picture(8, 8, rgb);
    std::vector<uint8_t> cut = bmp_file(crate, rgb);
    cut.pop_back();
    // 100000 x 100000 pixels claimed in 100 bytes.
    std::vector<uint8_t> huge = std::vector<uint8_t>(cut.begin(), cut.begin() + 100);
    for (size_t at : {18, 22}) {
        for (size_t i = 0; i < 4; ++i)
            huge[at + i] = static_cast<uint8_t>(100000u >> (8 * i));
    }
    cases.push_back({"crate", "Crate.BMP", bmp_file(crate, rgb), crate});
    // Looked up by their bytes, not by the names they read as.
    const Picture cafe = test_picture(3, 3, rgb);
    const Picture other_cafe = test_picture(4, 2, rgb);
    cases.push_back({"caf\xE9", "caf\xE9.bmp", bmp_file(cafe, rgb), cafe});
    cases.push_back({"caf\xFF", "caf\xFF.bmp", bmp_file(other_cafe, rgb), other_cafe});
    cases.push_back({"missing", "", {}, std::nullopt});
    cases.push_back({"cut_short", "cut_short.bmp", cut, std::nullopt});
    cases.push_back({"huge", "huge.bmp", huge, std::nullopt});
    return cases;
}

namespace {

// One texture whose PNG image is 75 bytes, a size that is no multiple of 4:
// the buffer pads it.
NamedLevel one_small_image()
{
    const BmpKind rgb{"24 bits", 40, 24};
    LevelPlan plan = square({"world"});
    add_surface(plan, 0, "dot", {{0, 1, 2}});
    return {"one_small_image", build_level(plan), {{"dot.bmp", bmp_file(test_picture(2, 1, rgb), rgb)}}};
}

} // namespace

std::vector<NamedLevel> glb_test_levels()
{
    const std::vector<TextureCase> cases = texture_cases();
    NamedLevel textured_level{"textured", build_level(textured(cases))};
    for (const TextureCase& c : cases) {
        if (!c.file_name.empty())
            textured_level.files[c.file_name] = c.file;
    }
    return {
        {"large", build_level(large_level())},
        {"empty", build_level(LevelPlan{})},
        {"surfaces_without_triangles", build_level(surfaces_without_triangles())},
        {"corners_without_tex_coords", build_level(corners_without_tex_coords())},
        {"odd_names", build_level(odd_names())},
        {"non_finite_numbers", build_level(non_finite_numbers())},
        {"model_without_surfaces", build_level(model_without_surfaces())},
        {"wide_first_surface", build_level(wide_first_surface())},
        {"models_sharing_a_material", build_level(models_sharing_a_material())},
        {"far_from_origin", build_level(far_from_origin())},
        {"vertices_without_triangles", build_level(vertices_without_triangles())},
        {"normals", build_level(normals())},
        textured_level,
        one_small_image(),
    };
}

} // namespace meshwright
