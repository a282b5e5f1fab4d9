// Writes the fuzzing corpus's seed levels into a folder: small valid levels
// that reach every section, and the hostile headers that once needed care;
// and, into a second folder, a small bitmap of every kind the converter
// reads, for the bitmap reader's corpus.
//   make_seeds FOLDER [BITMAP_FOLDER]
#include <iostream>
#include <stdexcept>

#include "bitmap_builder.hpp"
#include "level_builder.hpp"

namespace meshwright {
namespace {

LevelPlan every_section()
{
    LevelPlan plan;
    plan.models = {"world", "door"};
    plan.block16_count = 1;
    plan.word4s = {{1, 2, 3, 4}};
    plan.dword4_count = 1;
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}, {1, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    plan.indices = {0, 1};
    plan.extra_indices = {2};
    add_surface(plan, 0, "floor", {{0, 1, 2}, {1, 3, 2}});
    add_surface(plan, 1, "door", {{2, 2, 2}});
    add_surface(plan, 0, "", {});
    return plan;
}

LevelPlan one_triangle()
{
    LevelPlan plan;
    plan.models = {"m"};
    plan.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 1}};
    plan.tex_coords = {{0, 0}, {1, 0}, {0, 1}};
    add_surface(plan, 0, "wall", {{0, 1, 2}});
    return plan;
}

} // namespace
} // namespace meshwright

int main(int argc, char** argv)
{
    using namespace meshwright;
    if (argc != 2 && argc != 3) {
        std::cerr << "usage: make_seeds FOLDER [BITMAP_FOLDER]\n";
        return 2;
    }
    const std::string folder = argv[1];
    try {
        write_file(folder + "/empty_header.bsp", std::vector<uint8_t>(52, 0));
        write_file(folder + "/one_triangle.bsp", build_level(one_triangle()));
        write_file(folder + "/every_section.bsp", build_level(every_section()));

        std::vector<uint8_t> huge_vertices(52, 0);
        set_u32(huge_vertices, header_offset::vertex_count, 0xFFFFFFFF);
        write_file(folder + "/huge_vertex_count.bsp", huge_vertices);

        std::vector<uint8_t> huge_triangles = build_level(one_triangle());
        set_u32(huge_triangles, huge_triangles.size() - 12 - 6 - 4, 0xFFFFFFFF);
        write_file(folder + "/huge_triangle_count.bsp", huge_triangles);

        LevelPlan bad_vertex = one_triangle();
        bad_vertex.geometry[0].local_indices[2] = 65535;
        write_file(folder + "/vertex_index_out_of_range.bsp", build_level(bad_vertex));

        for (int k = 0; argc == 3 && k < static_cast<int>(bmp_kinds().size()); ++k) {
            const BmpKind& kind = bmp_kinds()[static_cast<size_t>(k)];
            write_file(std::string(argv[2]) + "/kind_" + std::to_string(k) + ".bmp", bmp_file(test_picture(5, 3, kind), kind));
        }
    } catch (const std::exception& error) {
        std::cerr << "make_seeds: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
