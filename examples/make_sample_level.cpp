// Makes a level file from a readable description (see sample_level.txt):
//   make_sample_level DESCRIPTION OUTPUT
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "level_builder.hpp"

namespace meshwright {
namespace {

// World units per texture tile.
constexpr float texture_tile = 64;

struct Rectangle {
    int axis = 0;          // the axis it is flat along: 0 x, 1 y, 2 z
    bool facing_up = true; // seen from the positive end of that axis
    std::array<float, 3> low{};
    std::array<float, 3> high{};
};

Rectangle read_rectangle(std::istringstream& words)
{
    std::string facing;
    Rectangle rect;
    if (!(words >> facing) || facing.size() != 2 || (facing[0] != '+' && facing[0] != '-') || facing[1] < 'x' ||
        facing[1] > 'z')
        throw std::runtime_error("expected FACING as +x, -x, +y, -y, +z or -z");
    rect.axis = facing[1] - 'x';
    rect.facing_up = facing[0] == '+';
    for (auto* corner : {&rect.low, &rect.high}) {
        for (float& value : *corner) {
            if (!(words >> value))
                throw std::runtime_error("expected X0 Y0 Z0 X1 Y1 Z1");
        }
    }
    for (int k = 0; k < 3; ++k) {
        if ((k == rect.axis) != (rect.low[k] == rect.high[k]) || rect.low[k] > rect.high[k])
            throw std::runtime_error("a rectangle is flat along its facing axis only, from low to high corner");
    }
    return rect;
}

std::array<float, 3> cross(const std::array<float, 3>& a, const std::array<float, 3>& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

float dot(const std::array<float, 3>& a, const std::array<float, 3>& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Texture coordinates projected from the world so that every picture reads
// as drawn, seen from the side the rectangle faces: on walls its top is up
// (+y), on floors and ceilings toward +z. The OBJ writes the level's x, y, z
// as z, y, x, a mirror image, so the picture's right, top x facing in the
// OBJ's coordinates, is facing x top in the level's. The level counts v from
// the top of the image downwards.
std::array<float, 2> projected(const std::array<float, 3>& p, const Rectangle& rect)
{
    std::array<float, 3> facing{};
    facing[rect.axis] = rect.facing_up ? 1.0f : -1.0f;
    const std::array<float, 3> top = rect.axis == 1 ? std::array<float, 3>{0, 0, 1} : std::array<float, 3>{0, 1, 0};
    const std::array<float, 3> right = cross(facing, top);
    return {dot(p, right) / texture_tile, -dot(p, top) / texture_tile};
}

struct Parser {
    LevelPlan plan;
    std::optional<SurfaceRecord> surface;
    std::vector<std::array<uint16_t, 3>> triangles;

    void finish_surface()
    {
        if (surface)
            add_surface(plan, surface->model_index, surface->texture_name, triangles);
        surface.reset();
        triangles.clear();
    }

    // Four vertices of its own, listed counter-clockwise as seen from the
    // side it faces: along the two other axes in turn (y then z for x, z then
    // x for y, x then y for z), the right-hand rule points to the axis's
    // positive end.
    void add_rectangle(const Rectangle& rect)
    {
        const int b = (rect.axis + 1) % 3;
        const int c = (rect.axis + 2) % 3;
        const float corners[4][2] = {{rect.low[b], rect.low[c]},
                                     {rect.high[b], rect.low[c]},
                                     {rect.high[b], rect.high[c]},
                                     {rect.low[b], rect.high[c]}};
        const auto first = static_cast<uint16_t>(plan.vertices.size());
        for (const auto& corner : corners) {
            std::array<float, 3> p = rect.low;
            p[b] = corner[0];
            p[c] = corner[1];
            plan.vertices.push_back(p);
            plan.tex_coords.push_back(projected(p, rect));
        }
        const uint16_t v[4] = {first, static_cast<uint16_t>(first + 1), static_cast<uint16_t>(first + 2),
                               static_cast<uint16_t>(first + 3)};
        if (rect.facing_up) {
            triangles.push_back({v[0], v[1], v[2]});
            triangles.push_back({v[0], v[2], v[3]});
        } else {
            triangles.push_back({v[0], v[2], v[1]});
            triangles.push_back({v[0], v[3], v[2]});
        }
    }

    void parse_line(const std::string& keyword, std::istringstream& words)
    {
        if (keyword == "model") {
            plan.models.emplace_back();
            words >> plan.models.back();
        } else if (keyword == "surface") {
            finish_surface();
            surface.emplace();
            if (!(words >> surface->model_index >> surface->texture_name))
                throw std::runtime_error("expected MODEL TEXTURE");
        } else if (keyword == "rect") {
            if (!surface)
                throw std::runtime_error("rectangle outside a surface");
            add_rectangle(read_rectangle(words));
        } else {
            throw std::runtime_error("unknown keyword " + keyword);
        }
    }
};

LevelPlan parse_description(std::istream& in)
{
    Parser parser;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string keyword;
        if (!(words >> keyword))
            continue;
        try {
            parser.parse_line(keyword, words);
        } catch (const std::exception& error) {
            throw std::runtime_error("line " + std::to_string(number) + ": " + error.what());
        }
    }
    parser.finish_surface();
    return parser.plan;
}

} // namespace
} // namespace meshwright

int main(int argc, char** argv)
{
    using namespace meshwright;
    if (argc != 3) {
        std::cerr << "usage: make_sample_level DESCRIPTION OUTPUT\n";
        return 2;
    }
    try {
        std::ifstream description(argv[1]);
        if (!description)
            throw std::runtime_error(std::string("cannot read ") + argv[1]);
        write_file(argv[2], build_level(parse_description(description)));
    } catch (const std::exception& error) {
        std::cerr << "make_sample_level: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
