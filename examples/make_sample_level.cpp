// Makes a level file from a readable description (see sample_level.txt):
//   make_sample_level DESCRIPTION OUTPUT
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "level_builder.hpp"

namespace meshwright {
namespace {

std::vector<uint16_t> read_vertex_numbers(std::istringstream& words, size_t count)
{
    std::vector<uint16_t> numbers(count);
    for (uint16_t& number : numbers) {
        if (!(words >> number))
            throw std::runtime_error("expected " + std::to_string(count) + " vertex numbers");
    }
    return numbers;
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

    void parse_line(const std::string& keyword, std::istringstream& words)
    {
        if (keyword == "model") {
            plan.models.emplace_back();
            words >> plan.models.back();
        } else if (keyword == "vertex") {
            float x, y, z, u, v;
            if (!(words >> x >> y >> z >> u >> v))
                throw std::runtime_error("expected X Y Z U V");
            plan.vertices.push_back({x, y, z});
            plan.tex_coords.push_back({u, v});
        } else if (keyword == "surface") {
            finish_surface();
            surface.emplace();
            if (!(words >> surface->model_index >> surface->texture_name))
                throw std::runtime_error("expected MODEL TEXTURE");
        } else if (keyword == "tri" || keyword == "quad") {
            if (!surface)
                throw std::runtime_error("face outside a surface");
            auto n = read_vertex_numbers(words, keyword == "tri" ? 3 : 4);
            triangles.push_back({n[0], n[1], n[2]});
            if (n.size() == 4)
                triangles.push_back({n[0], n[2], n[3]});
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
