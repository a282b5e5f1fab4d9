// Writes the binary glTF test levels as NAME.bsp into a folder, with the
// bitmaps that go beside their outputs, for the glTF validator's test.
//   make_glb_levels FOLDER
#include <filesystem>
#include <iostream>

#include "glb_levels.hpp"
#include "level_builder.hpp"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_glb_levels FOLDER\n";
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    for (const meshwright::NamedLevel& level : meshwright::glb_test_levels()) {
        meshwright::write_file(std::string(argv[1]) + "/" + level.name + ".bsp", level.bytes);
        for (const auto& [name, bytes] : level.files)
            meshwright::write_file(std::string(argv[1]) + "/" + name, bytes);
    }
    return 0;
}
